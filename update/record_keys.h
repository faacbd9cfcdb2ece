// Keys of the download record that the update check reads.
#pragma once

#include "net/download_record.h"

namespace record_key {

// Archive name and digest of the package that was last downloaded.
inline constexpr const char* kZipName = DownloadRecord::kZipName;
inline constexpr const char* kZipMd5 = DownloadRecord::kZipMd5;
// Set from the moment a package is remembered for download until its extraction completes;
// records written by earlier launchers lack it and count as complete.
inline constexpr const char* kExtracting = DownloadRecord::kUnzipping;
// The package the data folder held when the install under way began (see RememberPackage).
inline constexpr const char* kReplaced = DownloadRecord::kReplaced;

}  // namespace record_key
