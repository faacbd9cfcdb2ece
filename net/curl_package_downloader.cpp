#include "net/curl_package_downloader.h"

#include <utility>

#include "net/background_tasks.h"
#include "net/http_util.h"
#include "net/remember_package.h"

void CurlPackageDownloader::RememberPackage(const std::string& archivePath, const std::string& digest) {
  ::RememberPackage(archivePath, digest);
}

void CurlPackageDownloader::Start(DownloadTask task) {
  RunDetached([task = std::move(task)] { HttpUtil::Download(task); });
}
