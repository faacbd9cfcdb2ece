// The file list of a release ("files" in the file information) and what an update by files must
// do with it: which files to fetch, which to remove, and when the whole archive is the better way.
//
// Policy:
//   - The file list is an addition to the file information; a document without it, or with one
//     that is malformed in any element, disables updating by files only (the whole archive is
//     still installed from that document). With a release key, only a document whose signature
//     held may give a list.
//   - Fetched: files that are new, whose size or SHA-256 changed, and files missing on disk or of
//     another size there. Sizes on disk are compared, contents not: hashing a whole install at
//     every start costs more than the rare damage it would find, and a damaged file of the right
//     size is still mended by the next release that changes it.
//   - Removed: files the old list names and the new one does not, and nothing else; never a path
//     that leaves the data folder, passes through a link, is a link or a folder, or that names a
//     new file or a folder of one, in any letter case (on a system that folds case it is the new
//     file; a file in a new folder's place is replaced by the commit).
//   - Share: files are fetched by byte ranges only while the ranges and the central directory
//     stay under kMaxFetchShare of the archive. Past half, one sequential stream of the archive
//     costs at most twice the bytes, resumes with one offset, and unpacks in one pass; many
//     ranges cost a request each and a central directory read first, and nothing is saved.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "package/remote_zip.h"

// One element of "files": {"path", "size", "sha256", "crc32"}.
struct ManifestFile {
  std::string path;    // the archive entry's name: relative to the data folder, "/" (or "\\") between folders
  std::uint64_t size;  // bytes of the installed file
  std::string sha256;  // 64 lower-case hex digits
  std::uint32_t crc32;
};

// JSON keys of the file list, shared by the publisher that writes them.
namespace manifest_key {
inline constexpr const char* kFiles = "files";
inline constexpr const char* kPath = "path";
inline constexpr const char* kSize = "size";
inline constexpr const char* kSha256 = "sha256";
inline constexpr const char* kCrc32 = "crc32";
}  // namespace manifest_key

// Why an update takes the whole archive instead of files. The texts are the stdout wording.
enum class FallbackReason {
  kNoOldFileList,
  kMalformedOldFileList,
  kUnverifiedOldFileInfo,
  kNoNewFileList,
  kMalformedNewFileList,
  kTooLargeShare,
  kArchiveEndUnreadable,
  kDirectoryUnreadable,
  kDirectoryMismatch,
  kRangesIgnored,
  kFetchFailed,
  kFileCheckFailed,
};

// "no file list in the installed version's file information", ...
const char* FallbackText(FallbackReason reason);
// "whole-archive update: " followed by the reason's text.
std::string FallbackLine(FallbackReason reason);

// Result of reading a file list: the files, or why there are none.
struct ManifestRead {
  std::optional<std::vector<ManifestFile>> files;
  bool present = false;  // the document has a "files" member (then files is empty only when it is malformed)
};

// Reads "files" from a file-information text. Not a JSON object, or a member of the wrong type,
// a path that is not a safe relative name, a path twice, a digest not of 64 hex digits (either
// case, kept in lower case) or a CRC-32 outside 32 bits: no files, `present` set when the
// member exists.
ManifestRead ReadManifestFiles(const std::string& fileInfoText);
// The files of ReadManifestFiles; nullopt when the list is absent or malformed.
std::optional<std::vector<ManifestFile>> ParseManifestFiles(const std::string& fileInfoText);

// Both file lists of an update by files, each read once.
struct FileListsRead {
  std::vector<ManifestFile> oldFiles;
  std::vector<ManifestFile> newFiles;
};

// Reads the file lists an update by files starts from into `read`; nullopt when both are
// usable, else the reason. `oldVerified`: with a release key, the installed version's document
// passed its signature check (always true without a key).
std::optional<FallbackReason> ReadFileLists(const std::string& oldFileInfoText, bool oldVerified,
                                            const std::string& newFileInfoText, FileListsRead& read);
// ReadFileLists without keeping the lists.
std::optional<FallbackReason> FileListsUsable(const std::string& oldFileInfoText, bool oldVerified,
                                              const std::string& newFileInfoText);

// What an update by files must do.
struct FileWork {
  std::vector<std::size_t> fetch;   // indexes into the new list, in its order
  std::vector<std::string> remove;  // paths of the old list, relative to the data folder
  std::uint64_t fetchBytes = 0;     // installed bytes of the fetched files
};

// The work for moving `dataFolder` from `oldFiles` to `newFiles`. A repair is the same list twice.
FileWork ChooseFileWork(const std::vector<ManifestFile>& oldFiles, const std::vector<ManifestFile>& newFiles,
                        const std::string& dataFolder);
// True when a listed file is missing below `dataFolder` or has another size there (a repair is due).
bool NeedsRepair(const std::vector<ManifestFile>& files, const std::string& dataFolder);

// The platform path of a listed file below `dataFolder`; empty when the path is not safe.
std::string InstalledPathOf(const std::string& dataFolder, const std::string& listedPath);

// Removes one dropped file, checking again at the moment of removal: only a plain file (no link,
// no folder) whose parents below `dataFolder` are folders and not links. True when nothing is
// left at the path (also when nothing was there); false when something was refused or stays.
bool RemoveDroppedFile(const std::string& dataFolder, const std::string& listedPath);

// Removes the folders that removing the dropped files `removed` left empty, deepest first: only
// folders a removed path lay in (folders the old list implied), never the data folder itself,
// and each only when it is a plain folder (no link, reached through no link) and empty, so that
// nothing the player keeps there goes. Returns the folders removed, as listed paths.
std::vector<std::string> RemoveEmptiedFolders(const std::string& dataFolder, const std::vector<std::string>& removed);

// The share of the archive past which the whole archive is fetched instead (see Policy).
inline constexpr double kMaxFetchShare = 0.5;
// True when fetching `rangeBytes` plus the central directory beats the whole archive.
bool ShareAllowsFiles(std::uint64_t rangeBytes, std::uint64_t directoryBytes, std::uint64_t archiveBytes);

// The central directory agrees with the new file list: every listed file is an entry of that
// name, stored or deflated, not encrypted, with the listed size and CRC-32. On success
// `entryOf[i]` is the entry index of newFiles[i]. nullopt when it agrees, else kDirectoryMismatch.
std::optional<FallbackReason> CheckDirectoryAgrees(const std::vector<RemoteEntry>& entries,
                                                   const std::vector<ManifestFile>& newFiles,
                                                   std::vector<std::size_t>& entryOf);

// "file-level update: 3 of 512 files, 41.2 MB of 6.1 GB": files fetched of the new list, and the
// bytes to fetch of the archive's size.
std::string FileLevelLine(std::size_t fetchFiles, std::size_t listedFiles, std::uint64_t fetchBytes,
                          std::uint64_t archiveBytes);
// Sizes as the line gives them: "512 B", "3.0 KB", "41.2 MB", "6.1 GB" (units of 1024).
std::string ShortSize(std::uint64_t bytes);
