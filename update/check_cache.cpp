// The last file information obtained from the server is kept pending and written into the
// data folder's cache when the launch begins, so later runs of an unchanged version need not
// ask the server for it.
#include <cstdio>
#include <exception>

#include "package/file_util.h"
#include "update/check.h"

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
    FileUtil::WriteAll(pendingFileInfoPath_, pendingFileInfoText_);
    pendingFileInfoPath_.clear();
    pendingFileInfoText_.clear();
  } catch (const std::exception& error) {
    std::printf("Check::SaveLastFileInfo() Error: %s\n", error.what());
  }
}

std::pair<std::string, std::string> Check::PendingFileInfo() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return {pendingFileInfoPath_, pendingFileInfoText_};
}
