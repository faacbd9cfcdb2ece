#include "net/curl_package_downloader.h"

#include <utility>

#include "net/archive_failover.h"
#include "net/background_tasks.h"
#include "net/remember_package.h"

void CurlPackageDownloader::RememberPackage(const std::string& archivePath, const std::string& digest) {
  ::RememberPackage(archivePath, digest);
}

void CurlPackageDownloader::Start(DownloadTask task) {
  RunDetached([task = std::move(task)] { DownloadFromMirrors(task); });
}
