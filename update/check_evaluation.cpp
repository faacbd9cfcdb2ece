// The file information against the disk:
//   installed    the record names this archive and digest, no extraction was left unfinished,
//                and the archive on disk (if any) is not larger than expected;
//   all present  every listed path exists in the data folder.
// Both hold: "notNeedUpdate". Otherwise "needUpdate" with the byte the download may resume
// from: the size of a partial archive of the same digest, the full size when it is complete and
// its digest checks, else 0.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <utility>

#include "app/settings.h"
#include "app/status_words.h"
#include "app/texts.h"
#include "net/archive_name.h"
#include "net/background_tasks.h"
#include "net/content_paths.h"
#include "net/download_record.h"
#include "package/archive_digest.h"
#include "package/entry_path.h"
#include "package/file_util.h"
#include "update/check.h"
#include "update/json_util.h"
#include "update/record_keys.h"
#include "update/version_pattern.h"

namespace {

const char* const kZipNameKey = "zipName";
const char* const kZipMd5Key = "zipMd5";
const char* const kZipBytesKey = "zipBytes";
const char* const kFileNameListKey = "fileNameList";
const char* const kZipSha256Key = "zipSha256";

const char* const kMalformedPrefix = "Check::ParseFileInfo Error: malformed ";
const char* const kRefusedNamePrefix = "Check::ParseFileInfo Error: refused archive name ";

std::runtime_error Malformed(const char* key) {
  return std::runtime_error(std::string(kMalformedPrefix) + "\"" + key + "\"");
}

// A member that is present must be a string.
std::string StringMember(const rapidjson::Value& document, const char* key) {
  if (!JsonUtil::HasMember(document, key)) return {};
  const rapidjson::Value& value = JsonUtil::Member(document, key);
  if (!value.IsString()) throw Malformed(key);
  return std::string(value.GetString());
}

std::int64_t SizeMember(const rapidjson::Value& document, const char* key, std::int64_t fallback) {
  if (!JsonUtil::HasMember(document, key)) return fallback;
  const rapidjson::Value& value = JsonUtil::Member(document, key);
  if (!value.IsInt64() || value.GetInt64() < 0) throw Malformed(key);
  return value.GetInt64();
}

// The archive's size on disk, compared in full 64 bits; 0 when it cannot be opened.
std::int64_t ArchiveSize(const std::string& zipName) {
  const std::uint64_t size = FileUtil::Size(zipName);
  return size > static_cast<std::uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<std::int64_t>(size);
}

// Publishing tools write digests in either case, some with blanks around them.
std::string NormalizedDigest(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r\n");
  std::string digest = text.substr(first, last - first + 1);
  std::transform(digest.begin(), digest.end(), digest.begin(), [](unsigned char c) { return std::tolower(c); });
  return digest;
}

bool IsHexText(const std::string& digest, std::size_t length) {
  return digest.size() == length && digest.find_first_not_of("0123456789abcdef") == std::string::npos;
}

bool IsDigestText(const std::string& digest) { return IsHexText(digest, 32); }

// The record's digest as this launcher writes it; an earlier launcher may have kept the
// server's spelling.
std::string RecordedDigest() { return NormalizedDigest(DownloadRecord::Get(record_key::kZipMd5)); }

struct CheckRow {
  std::string status;
  std::string first;
  std::string second;
  std::int64_t size = 0;
  std::int64_t offset = 0;
};

}  // namespace

FileInfo Check::ParseFileInfo(const std::string& text, bool withSha256) {
  FileInfo info;
  info.zipBytes = kDefaultZipBytes;
  rapidjson::Document document;
  JsonUtil::ToObject(document, text);
  info.zipMd5 = StringMember(document, kZipMd5Key);
  if (JsonUtil::HasMember(document, kZipMd5Key)) {
    info.zipMd5 = NormalizedDigest(info.zipMd5);
    if (!IsDigestText(info.zipMd5)) throw Malformed(kZipMd5Key);
  }
  info.zipBytes = SizeMember(document, kZipBytesKey, kDefaultZipBytes);
  if (withSha256) {
    info.zipSha256 = NormalizedDigest(StringMember(document, kZipSha256Key));
    if (!IsHexText(info.zipSha256, 64)) throw Malformed(kZipSha256Key);
  }
  // The archive is written and later deleted under this name: a name the server sends must be
  // one in the download folder. Without the key the name stays empty, as it always was.
  const bool named = JsonUtil::HasMember(document, kZipNameKey);
  info.zipName = StringMember(document, kZipNameKey);
  if (named && !IsDownloadFolderArchiveName(info.zipName)) {
    throw std::runtime_error(kRefusedNamePrefix + info.zipName);
  }
  // Each listed path is tested for existence below the data folder: one that leaves it would
  // let a server probe the player's disk and never be satisfied by an installation.
  JsonUtil::VisitArray(document, kFileNameListKey, [&info](const rapidjson::Value& element) {
    if (!element.IsString()) return;
    std::string name(element.GetString(), element.GetStringLength());
    if (!IsSafeEntryName(name)) {
      throw std::runtime_error(std::string(kMalformedPrefix) + "\"" + kFileNameListKey + "\" entry " + name);
    }
    info.fileNameList.push_back(std::move(name));
  });
  return info;
}

bool Check::IsInstalled(const std::string& zipName, const std::string& zipMd5, std::int64_t zipBytes) {
  if (FileUtil::Exists(zipName) && ArchiveSize(zipName) > zipBytes) return false;
  // An extraction that never finished left a mixed package behind.
  if (!DownloadRecord::Get(record_key::kExtracting).empty()) return false;
  const std::string recordName = DownloadRecord::Get(record_key::kZipName);
  const std::string recordMd5 = RecordedDigest();
  return !recordName.empty() && recordName == zipName && !recordMd5.empty() && recordMd5 == zipMd5;
}

bool Check::AllFilesPresent(const std::vector<std::string>& fileNameList) {
  for (const std::string& name : fileNameList) {
    if (!FileUtil::Exists(settings::dataFolder + "/" + name)) return false;
  }
  return true;
}

std::int64_t Check::ResumeOffset(const std::string& zipName, const std::string& zipMd5, std::int64_t zipBytes,
                                 bool withSha256) const {
  if (!FileUtil::Exists(zipName)) return 0;
  const std::string recordMd5 = RecordedDigest();
  if (recordMd5.empty() || recordMd5 != zipMd5) return 0;  // the archive on disk belongs to another package
  const std::int64_t size = ArchiveSize(zipName);
  if (size > zipBytes) return 0;
  if (size == zipBytes) {
    const auto digests = HashWholeFile(zipName, withSha256);
    if (!digests) return 0;
    std::printf("archive %s is complete, MD5 %s\n", zipName.c_str(), digests->md5.c_str());
    DigestMemo::Remember(zipName, *digests);
    return digests->md5 == zipMd5 ? size : 0;
  }
  return size;
}

void Check::OnFileInfo(const ResultCallback& callback, const std::string& status, const std::string& text) {
  if (status != status::kSucc) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingFileInfoText_ = text;
  }
  try {
    RunDetached([this, text, callback] { Evaluate(text, callback); });
  } catch (const std::exception& error) {
    ReportCheckError(callback, error.what());
  }
}

void Check::Evaluate(const std::string& text, const ResultCallback& callback) {
  CheckRow row;
  try {
    const FileInfo info = ParseFileInfo(text, rules_.has_value());
    SetZipName(info.zipName);
    SetZipSha256(info.zipSha256);
    if (IsInstalled(info.zipName, info.zipMd5, info.zipBytes) && AllFilesPresent(info.fileNameList)) {
      row = {status::kNotNeedUpdate, "", "", 0, 0};
    } else {
      const std::int64_t offset = ResumeOffset(info.zipName, info.zipMd5, info.zipBytes, !info.zipSha256.empty());
      row = {status::kNeedUpdate, info.zipName, info.zipMd5, info.zipBytes, offset};
    }
  } catch (const std::exception& error) {
    ReportCheckError(callback, error.what());
    return;
  }
  // Outside the guard: a failure inside the controller's handler must not produce a second row.
  callback(row.status, row.first, row.second, row.size, row.offset);
}

void ReportCheckError(const ResultCallback& callback, const std::string& message) {
  callback(status::kError, std::string(texts::kCheckFileError) + message, std::string(), 0, 0);
}

std::string Check::CachedFileInfoOf(const std::string& zipName, bool& verified) const {
  const std::string version = InstalledVersionOf(zipName);
  const std::string cachePath = settings::dataFolder + "/fileInfo_" + version + ".json";
  if (version.empty() || !FileUtil::Exists(cachePath)) return {};
  if (!rules_) return FileUtil::ReadAll(cachePath);
  const SignedDocument cached = ReadSignedDocument(cachePath);
  try {
    rules_->CheckFileInfo(cached, DottedVersion(version));
  } catch (const std::exception& error) {
    std::printf("cached file information of version %s not trusted: %s\n", DottedVersion(version).c_str(),
                error.what());
    verified = false;
  }
  return cached.bytes;
}

FileLists Check::FileListsForUpdate() const {
  FileLists lists;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lists.newText = pendingFileInfoText_;
  }
  // Files half replaced by an install that was cut short match neither list. The files of the
  // release installed before it may still lie there, though: its list names those to remove.
  if (!DownloadRecord::Get(record_key::kExtracting).empty()) {
    lists.unusable = "an earlier install did not finish";
    try {
      const std::string replaced = DownloadRecord::Get(record_key::kReplaced);
      if (!replaced.empty()) lists.oldText = CachedFileInfoOf(replaced, lists.oldVerified);
      if (!lists.oldText.empty() && ParseFileInfo(lists.oldText, false).zipName != replaced) lists.oldText.clear();
    } catch (const std::exception&) {
      lists.oldText.clear();  // an unreadable document gives no list
    }
    return lists;
  }
  const std::string recordName = DownloadRecord::Get(record_key::kZipName);
  const std::string recordMd5 = RecordedDigest();
  if (recordName.empty() || recordMd5.empty()) return lists;
  try {
    const FileInfo next = ParseFileInfo(lists.newText, rules_.has_value());
    // A repair: the package being installed is the one installed.
    if (next.zipName == recordName && next.zipMd5 == recordMd5) {
      lists.oldText = lists.newText;
      return lists;
    }
    const std::string version = InstalledVersionOf(recordName);
    lists.oldText = CachedFileInfoOf(recordName, lists.oldVerified);
    if (lists.oldText.empty()) return lists;
    const FileInfo installed = ParseFileInfo(lists.oldText, false);
    if (installed.zipName != recordName || installed.zipMd5 != recordMd5) {
      lists.unusable =
          "the cached file information of version " + DottedVersion(version) + " is not the installed package's";
    }
  } catch (const std::exception&) {
    lists.oldText.clear();  // an unreadable document gives no list
  }
  return lists;
}
