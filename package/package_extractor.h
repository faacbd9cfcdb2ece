// The launcher's view of the extraction.
#pragma once

#include "package/unzip_callback.h"

class PackageExtractor {
 public:
  virtual ~PackageExtractor() = default;
  // Starts the extraction on its own thread and returns at once.
  // Throws a std::exception when the extraction cannot be started.
  virtual void Start(UnzipTask task) = 0;
};
