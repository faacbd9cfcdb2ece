#include "app/zip_package_extractor.h"

#include <cstdio>
#include <string>
#include <utility>

#include "app/settings.h"
#include "net/background_tasks.h"
#include "net/download_record.h"
#include "package/staging.h"
#include "package/zip_util.h"
#include "update/record_keys.h"

namespace {

const char* const kRecordNotWritten = "cannot write the download record ";

// The record is marked while files are being replaced, so a run that dies half-way (killed,
// disk full, a failed entry) leaves a package the next check will not take as installed.
// Without the mark on disk no file may be replaced: the record's box is shown and the stage fails.
bool MarkExtracting(const UnzipTask& task) {
  if (DownloadRecord::Set(record_key::kExtracting, task.archivePath)) return true;
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

void ZipPackageExtractor::Start(UnzipTask task) {
  task.callback = ClearingMarkOnSuccess(std::move(task.callback));
  // The worker owns the task; the outcome arrives only through the task's callback.
  RunDetached([task = std::move(task)] {
    if (MarkExtracting(task)) InstallThroughStaging(task);
  });
}
