#include "app/zip_package_extractor.h"

#include <utility>

#include "net/background_tasks.h"
#include "package/zip_util.h"

void ZipPackageExtractor::Start(UnzipTask task) {
  // The worker owns the task; the outcome arrives only through the task's callback.
  RunDetached([task = std::move(task)] { ZipUtil::UnzipAll(task); });
}
