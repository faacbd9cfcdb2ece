// The launcher's install: the archive unpacked into the staging folder and committed into place, on a detached worker
// thread.
#pragma once

#include "package/package_extractor.h"

class ZipPackageExtractor : public PackageExtractor {
 public:
  // Throws std::system_error when the worker thread cannot be created.
  void Start(UnzipTask task) override;
};
