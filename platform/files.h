// File-system primitives the portable file utilities are built on.
// Paths are UTF-8 narrow strings relative to the working directory, on every system: the
// Windows backend widens them for the W functions, so no name depends on the ANSI code page.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

// The separator that paths composed by the launcher use on this system.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

struct DirEntry {
  std::string name;
  bool isDirectory = false;
};

// True when the path's attributes can be read (file or directory).
bool PathExists(const std::string& path);
bool IsDirectory(const std::string& path);
// True when the path names a symbolic link itself (Windows: any reparse point); a trailing
// separator does not make it name the link's target.
bool IsLink(const std::string& path);
// False when the path is not a plain file of its own (a link, a folder, a device) or cannot be
// opened; otherwise *size holds its full 64-bit size.
bool FileSize(const std::string& path, std::uint64_t* size);

enum class WriteMode {
  Replace,  // a new, empty file takes the name; a link or file that held it is removed first
  Append,   // writes go to the end of the plain file at the name, made if missing
};
// A stream for binary writing that never reaches through a link at the path's last component:
// Replace removes the link, Append refuses it. Null when it cannot be opened; the caller closes it.
std::FILE* OpenFileNoFollow(const std::string& path, WriteMode mode);
// Creates exactly one level; false when it exists already or cannot be made.
bool MakeDirectory(const std::string& path);
bool RemoveFile(const std::string& path);
bool RemoveEmptyDirectory(const std::string& path);
// Removes a file, a link as the link itself, or a folder with everything in it without ever
// descending into a linked folder (Windows: reparse points likewise). True when nothing is
// left at the path afterwards, also when nothing was there.
bool RemovePathNoFollow(const std::string& path);
// Replaces `to` with `from` in one step, so readers see the old or the new file, never half of one.
bool SwapInFile(const std::string& from, const std::string& to);
// Gives `from` the name `to` within one file system, replacing a file there; no flush, so a
// commit of many files costs one rename each. False when the system refused.
bool MoveIntoPlace(const std::string& from, const std::string& to);
// The room left for this user on the volume holding `path`, and a text that is equal for two
// paths exactly when they lie on the same volume. False when the path's volume cannot be asked.
bool FreeSpace(const std::string& path, std::uint64_t* available, std::string* volume);
// False when the directory cannot be enumerated. "." and ".." are never listed.
bool ListDirectory(const std::string& directory, std::vector<DirEntry>* entries);
// The process's current directory; empty when it cannot be read.
std::string CurrentDirectory();
// Seconds since 1970 of the file's last modification; false when it cannot be read.
bool ModificationTime(const std::string& path, std::int64_t* secondsSinceEpoch);
// The path as the standard library's streams and std::filesystem take it (a narrow string
// there would be read in the ANSI code page on Windows): widened, in the long form where needed.
std::filesystem::path NativePath(const std::string& path);

}  // namespace platform
