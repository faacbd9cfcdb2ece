#include "update/file_manifest.h"

#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "package/entry_path.h"
#include "package/staging.h"
#include "platform/files.h"
#include "update/json_util.h"

namespace {

constexpr std::size_t kSha256HexDigits = 64;
constexpr std::uint64_t kMaxCrc32 = 0xffffffffull;

bool IsHex(const std::string& text) { return text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos; }

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The path as unpacking places it: "\\" separates folders as "/" does (package/entry_path.h).
std::string WithSlashes(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path;
}

// One name per file: non-empty components, none "." or "..", not in the staging folder.
bool IsListedPath(const std::string& listedPath) {
  if (listedPath.empty() || !IsSafeEntryName(listedPath)) return false;
  const std::string path = WithSlashes(listedPath);
  std::size_t start = 0;
  for (bool first = true;; first = false) {
    const std::size_t slash = path.find('/', start);
    const std::string part = path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (first && part == kStagingFolderName) return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

std::optional<ManifestFile> ReadElement(const rapidjson::Value& element) {
  using namespace manifest_key;
  if (!element.IsObject()) return std::nullopt;
  const auto path = element.FindMember(kPath);
  const auto size = element.FindMember(kSize);
  const auto sha256 = element.FindMember(kSha256);
  const auto crc32 = element.FindMember(kCrc32);
  const auto end = element.MemberEnd();
  if (path == end || size == end || sha256 == end || crc32 == end) return std::nullopt;
  if (!path->value.IsString() || !size->value.IsUint64() || !sha256->value.IsString() || !crc32->value.IsUint64()) {
    return std::nullopt;
  }
  ManifestFile file{std::string(path->value.GetString(), path->value.GetStringLength()), size->value.GetUint64(),
                    Lower(std::string(sha256->value.GetString(), sha256->value.GetStringLength())), 0};
  if (!IsListedPath(file.path)) return std::nullopt;
  if (file.sha256.size() != kSha256HexDigits || !IsHex(file.sha256)) return std::nullopt;
  if (crc32->value.GetUint64() > kMaxCrc32) return std::nullopt;
  file.crc32 = static_cast<std::uint32_t>(crc32->value.GetUint64());
  return file;
}

// ASCII letters folded: Windows and macOS compare names so, which is all that matters here.
std::string FoldedCase(const std::string& path) { return Lower(WithSlashes(path)); }

// Every folder `listedPath` passes through below `dataFolder` is a folder and not a link.
bool ParentsArePlainFolders(const std::string& dataFolder, const std::string& listed) {
  const std::string listedPath = WithSlashes(listed);
  std::string parent = dataFolder;
  std::size_t start = 0;
  for (std::size_t slash = listedPath.find('/'); slash != std::string::npos; slash = listedPath.find('/', start)) {
    parent += platform::kPathSeparator;
    parent += listedPath.substr(start, slash - start);
    if (platform::IsLink(parent) || !platform::IsDirectory(parent)) return false;
    start = slash + 1;
  }
  return true;
}

bool IsPlainFile(const std::string& path) {
  std::uint64_t ignored = 0;
  return platform::FileSize(path, &ignored);
}

}  // namespace

const char* FallbackText(FallbackReason reason) {
  switch (reason) {
    case FallbackReason::kNoOldFileList:
      return "no file list in the installed version's file information";
    case FallbackReason::kMalformedOldFileList:
      return "the installed version's file list is malformed";
    case FallbackReason::kUnverifiedOldFileInfo:
      return "the installed version's file information is not signed by the release key";
    case FallbackReason::kNoNewFileList:
      return "no file list in the new version's file information";
    case FallbackReason::kMalformedNewFileList:
      return "the new version's file list is malformed";
    case FallbackReason::kTooLargeShare:
      return "the changed files are more than half of the archive";
    case FallbackReason::kArchiveEndUnreadable:
      return "the archive's end of central directory cannot be read";
    case FallbackReason::kDirectoryUnreadable:
      return "the archive's central directory cannot be read";
    case FallbackReason::kDirectoryMismatch:
      return "the archive's central directory does not match the file list";
    case FallbackReason::kRangesIgnored:
      return "the server answered a byte range with the whole archive";
    case FallbackReason::kFetchFailed:
      return "the changed files could not be fetched";
    case FallbackReason::kFileCheckFailed:
      return "a fetched file failed its check";
  }
  return "unknown reason";
}

std::string FallbackLine(FallbackReason reason) { return std::string("whole-archive update: ") + FallbackText(reason); }

ManifestRead ReadManifestFiles(const std::string& fileInfoText) {
  ManifestRead read;
  // Read as the check reads the rest of the document: iteratively (a hostile document nests
  // deeper than a worker's stack), up to the first zero byte.
  rapidjson::Document document;
  try {
    JsonUtil::ToObject(document, fileInfoText);
  } catch (const JsonToObjectException&) {
    return read;
  }
  if (!JsonUtil::HasMember(document, manifest_key::kFiles)) return read;
  read.present = true;
  const rapidjson::Value& list = JsonUtil::Member(document, manifest_key::kFiles);
  if (!list.IsArray()) return read;
  std::vector<ManifestFile> files;
  files.reserve(list.Size());
  std::unordered_set<std::string> paths;
  for (const auto& element : list.GetArray()) {
    auto file = ReadElement(element);
    if (!file || !paths.insert(WithSlashes(file->path)).second) return read;
    files.push_back(std::move(*file));
  }
  read.files = std::move(files);
  return read;
}

std::optional<std::vector<ManifestFile>> ParseManifestFiles(const std::string& fileInfoText) {
  return ReadManifestFiles(fileInfoText).files;
}

std::optional<FallbackReason> ReadFileLists(const std::string& oldFileInfoText, bool oldVerified,
                                            const std::string& newFileInfoText, FileListsRead& read) {
  if (!oldVerified) return FallbackReason::kUnverifiedOldFileInfo;
  ManifestRead oldRead = ReadManifestFiles(oldFileInfoText);
  if (!oldRead.files) return oldRead.present ? FallbackReason::kMalformedOldFileList : FallbackReason::kNoOldFileList;
  ManifestRead newRead = ReadManifestFiles(newFileInfoText);
  if (!newRead.files) return newRead.present ? FallbackReason::kMalformedNewFileList : FallbackReason::kNoNewFileList;
  read.oldFiles = std::move(*oldRead.files);
  read.newFiles = std::move(*newRead.files);
  return std::nullopt;
}

std::optional<FallbackReason> FileListsUsable(const std::string& oldFileInfoText, bool oldVerified,
                                              const std::string& newFileInfoText) {
  FileListsRead unused;
  return ReadFileLists(oldFileInfoText, oldVerified, newFileInfoText, unused);
}

std::string InstalledPathOf(const std::string& dataFolder, const std::string& listedPath) {
  if (!IsListedPath(listedPath)) return {};
  std::string path = dataFolder + platform::kPathSeparator + listedPath;
  for (std::size_t i = dataFolder.size() + 1; i < path.size(); ++i) {
    if (path[i] == '/' || path[i] == '\\') path[i] = platform::kPathSeparator;
  }
  return path;
}

FileWork ChooseFileWork(const std::vector<ManifestFile>& oldFiles, const std::vector<ManifestFile>& newFiles,
                        const std::string& dataFolder) {
  FileWork work;
  std::unordered_map<std::string, const ManifestFile*> oldByPath;
  for (const auto& file : oldFiles) oldByPath.emplace(file.path, &file);
  std::unordered_set<std::string> newFolded;
  for (std::size_t i = 0; i < newFiles.size(); ++i) {
    const ManifestFile& file = newFiles[i];
    // The file's own name and each folder it lies in: an old file in one of those places is
    // replaced by the commit, not removed after it.
    const std::string folded = FoldedCase(file.path);
    newFolded.insert(folded);
    for (std::size_t slash = folded.find('/'); slash != std::string::npos; slash = folded.find('/', slash + 1)) {
      newFolded.insert(folded.substr(0, slash));
    }
    const auto old = oldByPath.find(file.path);
    bool fetch = old == oldByPath.end() || old->second->size != file.size || old->second->sha256 != file.sha256;
    if (!fetch) {
      std::uint64_t size = 0;
      const std::string path = InstalledPathOf(dataFolder, file.path);
      fetch = path.empty() || !platform::FileSize(path, &size) || size != file.size;
    }
    if (fetch) {
      work.fetch.push_back(i);
      work.fetchBytes += file.size;
    }
  }
  for (const auto& file : oldFiles) {
    if (newFolded.count(FoldedCase(file.path)) != 0) continue;
    const std::string path = InstalledPathOf(dataFolder, file.path);
    if (path.empty() || !ParentsArePlainFolders(dataFolder, file.path) || !IsPlainFile(path)) continue;
    work.remove.push_back(file.path);
  }
  return work;
}

bool NeedsRepair(const std::vector<ManifestFile>& files, const std::string& dataFolder) {
  for (const auto& file : files) {
    std::uint64_t size = 0;
    const std::string path = InstalledPathOf(dataFolder, file.path);
    if (path.empty() || !platform::FileSize(path, &size) || size != file.size) return true;
  }
  return false;
}

bool RemoveDroppedFile(const std::string& dataFolder, const std::string& listedPath) {
  const std::string path = InstalledPathOf(dataFolder, listedPath);
  if (path.empty() || !ParentsArePlainFolders(dataFolder, listedPath)) return false;
  if (platform::IsLink(path)) return false;
  if (!platform::PathExists(path)) return true;
  if (!IsPlainFile(path)) return false;
  return platform::RemoveFile(path) || !platform::PathExists(path);
}

std::vector<std::string> RemoveEmptiedFolders(const std::string& dataFolder, const std::vector<std::string>& removed) {
  // Each folder once, the deepest first: a folder emptied by its subfolder's removal goes after it.
  std::set<std::pair<std::size_t, std::string>, std::greater<>> folders;
  for (const std::string& listed : removed) {
    const std::string path = WithSlashes(listed);
    for (std::size_t slash = path.rfind('/'); slash != std::string::npos && slash > 0;
         slash = path.rfind('/', slash - 1)) {
      const std::string folder = path.substr(0, slash);
      folders.emplace(static_cast<std::size_t>(std::count(folder.begin(), folder.end(), '/')), folder);
    }
  }
  std::vector<std::string> gone;
  for (const auto& [depth, folder] : folders) {
    const std::string path = InstalledPathOf(dataFolder, folder);
    if (path.empty() || !ParentsArePlainFolders(dataFolder, folder)) continue;
    if (platform::IsLink(path) || !platform::IsDirectory(path)) continue;
    if (platform::RemoveEmptyDirectory(path)) gone.push_back(folder);  // fails while anything is in it
  }
  return gone;
}

bool ShareAllowsFiles(std::uint64_t rangeBytes, std::uint64_t directoryBytes, std::uint64_t archiveBytes) {
  const long double fetched = static_cast<long double>(rangeBytes) + static_cast<long double>(directoryBytes);
  return fetched < kMaxFetchShare * static_cast<long double>(archiveBytes);
}

std::optional<FallbackReason> CheckDirectoryAgrees(const std::vector<RemoteEntry>& entries,
                                                   const std::vector<ManifestFile>& newFiles,
                                                   std::vector<std::size_t>& entryOf) {
  constexpr std::uint16_t kStored = 0, kDeflated = 8, kEncrypted = 1;
  entryOf.clear();
  std::unordered_map<std::string, std::size_t> byName;
  std::unordered_set<std::string> twice;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!byName.emplace(entries[i].name, i).second) twice.insert(entries[i].name);
  }
  std::vector<std::size_t> found;
  found.reserve(newFiles.size());
  for (const auto& file : newFiles) {
    const auto it = byName.find(file.path);
    if (it == byName.end() || twice.count(file.path) != 0) return FallbackReason::kDirectoryMismatch;
    const RemoteEntry& entry = entries[it->second];
    if ((entry.method != kStored && entry.method != kDeflated) || (entry.flags & kEncrypted) != 0) {
      return FallbackReason::kDirectoryMismatch;
    }
    if (entry.size != file.size || entry.crc32 != file.crc32) return FallbackReason::kDirectoryMismatch;
    if (entry.method == kStored && entry.compressedSize != entry.size) return FallbackReason::kDirectoryMismatch;
    found.push_back(it->second);
  }
  entryOf = std::move(found);
  return std::nullopt;
}

std::string ShortSize(std::uint64_t bytes) {
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  if (bytes < 1024) return std::to_string(bytes) + " B";
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  // 1023.95 would print as "1024.0"; it is the next unit's "1.0".
  while (value >= 1023.95 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

std::string FileLevelLine(std::size_t fetchFiles, std::size_t listedFiles, std::uint64_t fetchBytes,
                          std::uint64_t archiveBytes) {
  return "file-level update: " + std::to_string(fetchFiles) + " of " + std::to_string(listedFiles) + " files, " +
         ShortSize(fetchBytes) + " of " + ShortSize(archiveBytes);
}
