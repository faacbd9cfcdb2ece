#include "update/check.h"

#include <cstdlib>
#include <exception>
#include <utility>

#include "app/settings.h"
#include "app/status_words.h"
#include "net/content_paths.h"
#include "package/file_util.h"
#include "platform/files.h"
#include "update/timeout_dialog.h"

namespace {

// Makes every document request distinct for caches on the way; 0 to 32767 on every system.
int RandomNumber() { return std::rand() & 0x7fff; }

const char* const kMalformedKey = "the release key compiled into this launcher is not the base64 of 32 bytes";

// A document path as the messages name it: the request's cache buster left out.
std::string DocumentName(const std::string& requestPath) { return requestPath.substr(0, requestPath.find('?')); }

}  // namespace

Check::Check(CheckOptions options) : options_(std::move(options)) {
  if (!options_.nowMs) options_.nowMs = [] { return NowMs(); };
  if (options_.releasePublicKey.empty()) return;
  if (const std::optional<ReleaseKey> key = DecodeReleaseKey(options_.releasePublicKey)) {
    rules_.emplace(*key, settings::channelId);
  } else {
    releaseKeyMalformed_ = true;
  }
}

void Check::Start(ResultCallback callback) {
  if (releaseKeyMalformed_) {
    ReportCheckError(callback, kMalformedKey);
    return;
  }
  if (FileUtil::Exists(settings::localFileInfoName)) {
    // An override of the file information: no configuration, and nothing to cache afterwards.
    if (!rules_) {
      OnFileInfo(callback, status::kSucc, FileUtil::ReadAll(settings::localFileInfoName));
      return;
    }
    const SignedDocument fileInfo = ReadSignedDocument(settings::localFileInfoName);
    try {
      rules_->CheckFileInfo(fileInfo, std::string());
    } catch (const std::exception& error) {
      ReportCheckError(callback, error.what());
      return;
    }
    OnFileInfo(callback, status::kSucc, fileInfo.bytes);
    return;
  }
  if (FileUtil::Exists(settings::localConfigName)) {
    if (!rules_) {
      ProcessConfig(callback, FileUtil::ReadAll(settings::localConfigName));
      return;
    }
    OnSignedConfig(callback, ReadSignedDocument(settings::localConfigName));
    return;
  }
  RequestConfig(callback);
}

void Check::FetchSignatureThen(const ResultCallback& callback, const std::string& name, const std::string& text,
                               std::function<void(const SignedDocument&)> then) {
  const std::vector<std::string> urls =
      BuildUrlList(options_.baseUrls, WithCacheBuster(SignaturePathOf(name), RandomNumber()));
  try {
    RequestWithFailover(
        urls,
        [name, text, then](const std::string& status, const std::string& signature) {
          // A signature no server gives within the budget is a missing one: the document came
          // from these servers a moment ago, so they are up, and the check fails closed.
          if (status == status::kSucc) {
            then(SignedDocument{name, text, signature});
          } else if (status == status::kAllTimeout) {
            then(SignedDocument{name, text, std::nullopt});
          }
        },
        options_.failover);
  } catch (const std::exception& error) {
    ReportCheckError(callback, error.what());
  }
}

void Check::OnSignedConfig(const ResultCallback& callback, const SignedDocument& config) {
  try {
    rules_->CheckConfig(config, options_.nowMs(), SerialStore(options_.serialStorePath));
  } catch (const std::exception& error) {
    ReportCheckError(callback, error.what());
    return;
  }
  ProcessConfig(callback, config.bytes);
}

void Check::OnSignedFileInfo(const ResultCallback& callback, const std::string& path, const std::string& version,
                             const SignedDocument& fileInfo) {
  try {
    rules_->CheckFileInfo(fileInfo, version);
  } catch (const std::exception& error) {
    ReportCheckError(callback, error.what());
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingFileInfoPath_ = CachePathOf(path);
    pendingFileInfoSignature_ = fileInfo.signature.value_or(std::string());
  }
  OnFileInfo(callback, status::kSucc, fileInfo.bytes);
}

SignedDocument ReadSignedDocument(const std::string& path) {
  SignedDocument document{path, FileUtil::ReadBytes(path), std::nullopt};
  const std::string signaturePath = SignaturePathOf(path);
  if (platform::PathExists(signaturePath) && !platform::IsDirectory(signaturePath)) {
    document.signature = FileUtil::ReadBytes(signaturePath);
  }
  return document;
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
  if (status == status::kSucc && rules_) {
    FetchSignatureThen(callback, DocumentName(ConfigRequestPath(0)), text,
                       [this, callback](const SignedDocument& config) { OnSignedConfig(callback, config); });
  } else if (status == status::kSucc) {
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
    OnFileInfo(callback, status::kSucc, source.text);
    return;
  }
  RequestFileInfo(callback, configText, source.path, source.version);
}

void Check::RequestFileInfo(const ResultCallback& callback, const std::string& configText, const std::string& path,
                            const std::string& version) {
  const std::vector<std::string> urls = BuildUrlList(options_.baseUrls, WithCacheBuster(path, RandomNumber()));
  try {
    RequestWithFailover(
        urls,
        [this, callback, configText, path, version](const std::string& status, const std::string& text) {
          OnFileInfoResponse(callback, configText, path, version, status, text);
        },
        options_.failover);
  } catch (const std::exception& error) {
    ReportCheckError(callback, error.what());
  }
}

void Check::OnFileInfoResponse(const ResultCallback& callback, const std::string& configText, const std::string& path,
                               const std::string& version, const std::string& status, const std::string& text) {
  if (status == status::kAllTimeout) {
    ShowTimeoutDialog(options_.splash);
    ProcessConfig(callback, configText);
    return;
  }
  if (status == status::kSucc && rules_) {
    FetchSignatureThen(callback, path, text, [this, callback, path, version](const SignedDocument& fileInfo) {
      OnSignedFileInfo(callback, path, version, fileInfo);
    });
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
