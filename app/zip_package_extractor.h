// The launcher's extraction: ZipUtil::UnzipAll on a detached worker thread.
#pragma once

#include "package/package_extractor.h"

class ZipPackageExtractor : public PackageExtractor {
 public:
  // Throws std::system_error when the worker thread cannot be created.
  void Start(UnzipTask task) override;
};
