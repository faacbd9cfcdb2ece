#include "net/remember_package.h"

#include "net/download_record.h"
#include "package/file_util.h"
#include "platform/files.h"

void RememberPackage(const std::string& zipPath, const std::string& zipMd5) {
  const std::string oldName = DownloadRecord::Get(DownloadRecord::kZipName);
  const std::string oldMd5 = DownloadRecord::Get(DownloadRecord::kZipMd5);
  if (!oldName.empty()) {
    const bool otherArchive = FileUtil::Exists(oldName) && oldName != zipPath;
    if (otherArchive || zipMd5 != oldMd5) platform::RemoveFile(oldName);  // failures do not matter here
  }
  // Marked before the name changes: a launcher killed during the download must not find the
  // record naming the new package while the data folder still holds the old one.
  DownloadRecord::Set(DownloadRecord::kUnzipping, zipPath);
  DownloadRecord::Set(DownloadRecord::kZipName, zipPath);
  DownloadRecord::Set(DownloadRecord::kZipMd5, zipMd5);
}
