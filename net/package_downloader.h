// The launcher's view of the package download.
#pragma once

#include <string>

#include "net/download_task.h"

class PackageDownloader {
 public:
  virtual ~PackageDownloader() = default;
  // Records the archive about to be fetched; a stale partial archive is deleted.
  virtual void RememberPackage(const std::string& archivePath, const std::string& digest) = 0;
  // Starts the download on its own thread and returns at once.
  virtual void Start(DownloadTask task) = 0;
};
