// The launcher's install: the archive unpacked into the staging folder (while it downloads,
// when the launcher began that) and committed into place, on a detached worker thread.
#pragma once

#include <memory>
#include <mutex>

#include "package/package_extractor.h"

class StreamUnpack;

class ZipPackageExtractor : public PackageExtractor {
 public:
  ~ZipPackageExtractor() override;
  // Throws std::system_error when the worker thread cannot be created.
  void Start(UnzipTask task) override;
  std::shared_ptr<GrowingArchive> BeginStaging(const std::string& archivePath, const std::string& destination,
                                               std::uint64_t archiveBytes) override;
  void DropStaging() override;

 private:
  std::mutex mutex_;
  std::shared_ptr<StreamUnpack> stream_;  // the staging begun last, until a Start takes it
};
