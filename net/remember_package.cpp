#include "net/remember_package.h"

#include "net/archive_name.h"
#include "net/download_record.h"
#include "package/file_util.h"
#include "platform/files.h"

void NoteReplacedPackage() {
  // An install that begins while another is unfinished keeps the name of the last complete one.
  if (!DownloadRecord::Get(DownloadRecord::kUnzipping).empty()) return;
  DownloadRecord::Set(DownloadRecord::kReplaced, DownloadRecord::Get(DownloadRecord::kZipName));
}

void RememberPackage(const std::string& zipPath, const std::string& zipMd5) {
  const std::string oldName = DownloadRecord::Get(DownloadRecord::kZipName);
  const std::string oldMd5 = DownloadRecord::Get(DownloadRecord::kZipMd5);
  // Only an archive in the download folder is the launcher's to delete: a record naming any
  // other file (written by hand, or by a launcher that took any name from its server) has the
  // value replaced below, the file left alone.
  if (!oldName.empty() && IsDownloadFolderArchiveName(oldName)) {
    const bool otherArchive = FileUtil::Exists(oldName) && oldName != zipPath;
    if (otherArchive || zipMd5 != oldMd5) platform::RemoveFile(oldName);  // failures do not matter here
  }
  NoteReplacedPackage();
  // Marked before the name changes: a launcher killed during the download must not find the
  // record naming the new package while the data folder still holds the old one.
  DownloadRecord::Set(DownloadRecord::kUnzipping, zipPath);
  DownloadRecord::Set(DownloadRecord::kZipName, zipPath);
  DownloadRecord::Set(DownloadRecord::kZipMd5, zipMd5);
}
