// The last file information obtained from the server is kept pending and written into the
// data folder's cache when the launch begins, so later runs of an unchanged version need not
// ask the server for it.
#include <cstdio>
#include <exception>

#include "net/content_paths.h"
#include "package/file_util.h"
#include "platform/files.h"
#include "update/check.h"
#include "update/version_pattern.h"

namespace {

// Anything shorter cannot be a cache path or a real file-information document.
constexpr std::size_t kMinimumPathLength = 5;
constexpr std::size_t kMinimumTextLength = 100;

}  // namespace

void Check::SaveLastFileInfo() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pendingFileInfoPath_.size() < kMinimumPathLength || pendingFileInfoText_.size() < kMinimumTextLength) return;
  try {
    // A cache file that cannot be opened (no data folder yet) is skipped; the launch goes on.
    if (rules_) {
      // Exact bytes, the signature beside them: both are checked again on every read, so a
      // crash between the two writes only costs the next run a request.
      FileUtil::WriteBytesAtomically(pendingFileInfoPath_, pendingFileInfoText_);
      FileUtil::WriteBytesAtomically(SignaturePathOf(pendingFileInfoPath_), pendingFileInfoSignature_);
    } else {
      FileUtil::WriteAll(pendingFileInfoPath_, pendingFileInfoText_);
    }
    pendingFileInfoPath_.clear();
    pendingFileInfoText_.clear();
    pendingFileInfoSignature_.clear();
  } catch (const std::exception& error) {
    std::printf("Check::SaveLastFileInfo() Error: %s\n", error.what());
  }
}

std::pair<std::string, std::string> Check::PendingFileInfo() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {pendingFileInfoPath_, pendingFileInfoText_};
}

void Check::ForgetFileInfo(const std::string& archiveName) {
  const std::string version = InstalledVersionOf(archiveName);
  if (version.empty()) return;
  const std::string cachePath = CachePathOf(FileInfoPath(DottedVersion(version)));
  if (!FileUtil::Exists(cachePath)) return;
  std::printf("drop cached file information %s: its archive failed the digest\n", cachePath.c_str());
  platform::RemoveFile(cachePath);
  platform::RemoveFile(SignaturePathOf(cachePath));
}
