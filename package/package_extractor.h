// The launcher's view of the extraction.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "package/unzip_callback.h"

class GrowingArchive;

class PackageExtractor {
 public:
  virtual ~PackageExtractor() = default;
  // Starts the extraction on its own thread and returns at once.
  // Throws a std::exception when the extraction cannot be started.
  virtual void Start(UnzipTask task) = 0;
  // Starts unpacking the archive at `archivePath` into the staging folder of `destination` while
  // it downloads (`archiveBytes` long when whole, 0 when unknown); the download tells the result
  // how the file grows. Null when this extractor
  // does not unpack along (the archive is then unpacked after the download). Any earlier
  // staging is stopped first. The next Start of the same archive commits what was staged.
  virtual std::shared_ptr<GrowingArchive> BeginStaging(const std::string& archivePath, const std::string& destination,
                                                       std::uint64_t archiveBytes) {
    (void)archivePath;
    (void)destination;
    (void)archiveBytes;
    return nullptr;
  }
  // Stops the staging begun last and waits for it (nothing when there is none).
  virtual void DropStaging() {}
};
