#include "update/check.h"

#include <cstdlib>
#include <exception>
#include <utility>

#include "app/settings.h"
#include "app/status_words.h"
#include "net/content_paths.h"
#include "package/file_util.h"
#include "update/timeout_dialog.h"

namespace {

// Makes every document request distinct for caches on the way; 0 to 32767 on every system.
int RandomNumber() { return std::rand() & 0x7fff; }

}  // namespace

Check::Check(CheckOptions options) : options_(std::move(options)) {
  if (!options_.nowMs) options_.nowMs = [] { return NowMs(); };
}

void Check::Start(ResultCallback callback) {
  if (FileUtil::Exists(settings::localFileInfoName)) {
    // An override of the file information: no configuration, and nothing to cache afterwards.
    OnFileInfo(callback, status::kSucc, FileUtil::ReadAll(settings::localFileInfoName));
    return;
  }
  if (FileUtil::Exists(settings::localConfigName)) {
    ProcessConfig(callback, FileUtil::ReadAll(settings::localConfigName));
    return;
  }
  RequestConfig(callback);
}

void Check::RequestConfig(const ResultCallback& callback) {
  const std::vector<std::string> urls = BuildUrlList(options_.baseUrls, ConfigRequestPath(RandomNumber()));
  try {
    RequestWithFailover(
        urls,
        [this, callback](const std::string& status, const std::string& text) {
          OnConfigResponse(callback, status, text);
        },
        options_.failover);
  } catch (const std::exception& error) {
    ReportCheckError(callback, error.what());
  }
}

void Check::OnConfigResponse(const ResultCallback& callback, const std::string& status, const std::string& text) {
  if (status == status::kSucc) {
    ProcessConfig(callback, text);
  } else if (status == status::kAllTimeout) {
    ShowTimeoutDialog(options_.splash);
    Start(callback);
  }
  // "fail" and "onTimeout": the failover goes on until "succ" or "allTimeout".
}

void Check::ProcessConfig(const ResultCallback& callback, const std::string& configText) {
  FileInfoSource source;
  try {
    source = DecideFileInfoSource(configText);
  } catch (const std::exception& error) {
    // A configuration that is not a JSON object cannot decide anything; the player gets the
    // Retry box at once instead of a check that never completes.
    ReportCheckError(callback, error.what());
    return;
  }
  if (source.kind == status::kLocalFileInfo) {
    OnFileInfo(callback, status::kSucc, FileUtil::ReadAll(source.path));
    return;
  }
  RequestFileInfo(callback, configText, source.path);
}

void Check::RequestFileInfo(const ResultCallback& callback, const std::string& configText, const std::string& path) {
  const std::vector<std::string> urls = BuildUrlList(options_.baseUrls, WithCacheBuster(path, RandomNumber()));
  try {
    RequestWithFailover(
        urls,
        [this, callback, configText, path](const std::string& status, const std::string& text) {
          OnFileInfoResponse(callback, configText, path, status, text);
        },
        options_.failover);
  } catch (const std::exception& error) {
    ReportCheckError(callback, error.what());
  }
}

void Check::OnFileInfoResponse(const ResultCallback& callback, const std::string& configText, const std::string& path,
                               const std::string& status, const std::string& text) {
  if (status == status::kAllTimeout) {
    ShowTimeoutDialog(options_.splash);
    ProcessConfig(callback, configText);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingFileInfoPath_ = CachePathOf(path);
  }
  OnFileInfo(callback, status, text);
}

std::string Check::ZipName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return zipName_;
}

void Check::SetZipName(const std::string& zipName) {
  std::lock_guard<std::mutex> lock(mutex_);
  zipName_ = zipName;
}

std::string Check::ArchiveSha256() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return zipSha256_;
}

void Check::SetZipSha256(const std::string& zipSha256) {
  std::lock_guard<std::mutex> lock(mutex_);
  zipSha256_ = zipSha256;
}

std::string CachePathOf(const std::string& serverPath) {
  const std::string& from = settings::channelId;
  const std::string& to = settings::dataFolder;
  std::string path = serverPath;
  if (from.empty()) return path;
  // Scanning on after each inserted text: the data folder's name contains the channel's.
  for (std::size_t at = path.find(from); at != std::string::npos; at = path.find(from, at + to.size())) {
    path.replace(at, from.size(), to);
  }
  return path;
}
