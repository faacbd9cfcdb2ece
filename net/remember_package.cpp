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
  DownloadRecord::Set(DownloadRecord::kZipName, zipPath);
  DownloadRecord::Set(DownloadRecord::kZipMd5, zipMd5);
}
