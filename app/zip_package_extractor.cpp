#include "app/zip_package_extractor.h"

#include <cstdio>
#include <string>
#include <system_error>
#include <utility>

#include "app/settings.h"
#include "net/background_tasks.h"
#include "net/download_record.h"
#include "package/staging.h"
#include "package/stream_install.h"
#include "package/zip_util.h"
#include "update/record_keys.h"

namespace {

const char* const kRecordNotWritten = "cannot write the download record ";

// The record is marked while files are being replaced, so a run that dies half-way (killed,
// disk full, a failed entry) leaves a package the next check will not take as installed.
// Without the mark on disk no file may be replaced: the record's box is shown and the stage fails.
// What was staged while downloading goes first: the launcher may end the process on the outcome.
bool MarkExtracting(const UnzipTask& task, std::shared_ptr<StreamUnpack>& stream) {
  if (DownloadRecord::Set(record_key::kExtracting, task.archivePath)) return true;
  if (stream) {
    stream.reset();
    DiscardStaging(task.destination);
  }
  std::printf("%s%s: nothing unpacked\n", kRecordNotWritten, settings::downloadRecordPath.c_str());
  DownloadRecord::ShowWriteError();
  if (task.callback) task.callback(unzip_status::kFailed, kRecordNotWritten + settings::downloadRecordPath, 0, 0);
  return false;
}

// Cleared before "succ" is passed on: the launcher may end the process soon after it.
UnzipCallback ClearingMarkOnSuccess(UnzipCallback callback) {
  return [callback = std::move(callback)](const std::string& status, const std::string& payload, long long done,
                                          long long total) {
    if (status == unzip_status::kSucceeded) DownloadRecord::Set(record_key::kExtracting, "");
    if (callback) callback(status, payload, done, total);
  };
}

}  // namespace

ZipPackageExtractor::~ZipPackageExtractor() { DropStaging(); }

std::shared_ptr<GrowingArchive> ZipPackageExtractor::BeginStaging(const std::string& archivePath,
                                                                  const std::string& destination,
                                                                  std::uint64_t archiveBytes) {
  DropStaging();
  std::shared_ptr<StreamUnpack> stream;
  try {
    stream = std::make_shared<StreamUnpack>(archivePath, destination, archiveBytes);
  } catch (const std::system_error&) {
    return nullptr;  // no thread to be had: the archive is unpacked after the download
  }
  std::lock_guard<std::mutex> lock(mutex_);
  stream_ = stream;
  return stream->Archive();
}

void ZipPackageExtractor::DropStaging() {
  std::shared_ptr<StreamUnpack> stream;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stream.swap(stream_);
  }
  // Cancelled and joined here, outside the lock: the thread may take a moment to see it.
  stream.reset();
}

void ZipPackageExtractor::Start(UnzipTask task) {
  task.callback = ClearingMarkOnSuccess(std::move(task.callback));
  std::shared_ptr<StreamUnpack> stream;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stream.swap(stream_);
  }
  // The worker owns the task; the outcome arrives only through the task's callback.
  RunDetached([task = std::move(task), stream = std::move(stream)]() mutable {
    if (!MarkExtracting(task, stream)) return;
    if (stream && stream->ArchivePath() == task.archivePath) {
      InstallStreamed(task, *stream);
      return;
    }
    stream.reset();  // staging of another archive ends before this one is staged
    InstallThroughStaging(task);
  });
}
