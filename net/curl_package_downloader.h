// The package download of this build: the download record, then libcurl on a detached thread,
// over the task's URL and its mirrors.
#pragma once

#include "net/package_downloader.h"

class CurlPackageDownloader : public PackageDownloader {
 public:
  void RememberPackage(const std::string& archivePath, const std::string& digest) override;
  // The task moves to the new thread; its callback runs there. Throws std::system_error when
  // no thread can be started.
  void Start(DownloadTask task) override;
};
