#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"

namespace platform {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// Deeper trees than any package holds are refused rather than walked with a descriptor a level.
constexpr int kMaxRemovalDepth = 128;

bool RemoveAt(int parent, const char* name, int depth);

// Empties the directory open at `directory` (a descriptor this call owns and closes).
bool EmptyDirectory(int directory, int depth) {
  std::unique_ptr<DIR, DirCloser> dir(fdopendir(directory));
  if (!dir) {
    close(directory);
    return false;
  }
  bool ok = true;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  // Names are gathered first: removing while reading may make readdir skip entries.
  for (const auto& name : names) ok = RemoveAt(dirfd(dir.get()), name.c_str(), depth + 1) && ok;
  return ok;
}

// Removes `name` below the open folder `parent`: anything but a real directory (links
// included) is unlinked itself; a directory is opened without following and emptied first.
bool RemoveAt(int parent, const char* name, int depth) {
  struct stat info {};
  if (fstatat(parent, name, &info, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
  if (!S_ISDIR(info.st_mode)) return unlinkat(parent, name, 0) == 0 || errno == ENOENT;
  if (depth >= kMaxRemovalDepth) return false;
  const int directory = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (directory < 0) return false;
  const bool emptied = EmptyDirectory(directory, depth);
  return emptied && (unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno == ENOENT);
}

// "name/" makes the system resolve a link at "name"; the link itself is meant.
std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool PathExists(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsLink(const std::string& path) {
  struct stat info {};
  return !path.empty() && lstat(WithoutTrailingSeparators(path).c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

bool FileSize(const std::string& path, std::uint64_t* size) {
  // O_NONBLOCK: a pipe planted under the name must not hang the caller.
  const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  const bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  close(fd);
  if (ok) *size = static_cast<std::uint64_t>(info.st_size);
  return ok;
}

bool MakeDirectory(const std::string& path) { return mkdir(path.c_str(), 0755) == 0; }

bool RemoveFile(const std::string& path) { return unlink(path.c_str()) == 0; }

bool RemoveEmptyDirectory(const std::string& path) { return rmdir(path.c_str()) == 0; }

bool RemovePathNoFollow(const std::string& path) {
  if (path.empty()) return false;
  return RemoveAt(AT_FDCWD, WithoutTrailingSeparators(path).c_str(), 0);
}

std::FILE* OpenFileNoFollow(const std::string& path, WriteMode mode) {
  constexpr mode_t kMode = 0666;  // narrowed by the umask, as fopen would
  int fd = -1;
  if (mode == WriteMode::Replace) {
    // A link or a plain file is unlinked first: a link is dropped instead of written through,
    // and a file another name shares is never truncated. O_EXCL then refuses anything that
    // appeared in between. A device or pipe under the name is written as before, never removed.
    struct stat info {};
    const bool present = lstat(path.c_str(), &info) == 0;
    if (present && (S_ISLNK(info.st_mode) || S_ISREG(info.st_mode)) && unlink(path.c_str()) != 0) return nullptr;
    if (present && !S_ISLNK(info.st_mode) && !S_ISREG(info.st_mode)) {
      fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    } else {
      fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kMode);
    }
  } else {
    fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, kMode);
    struct stat info {};
    if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))) {
      close(fd);
      return nullptr;
    }
  }
  if (fd < 0) return nullptr;
  std::FILE* stream = fdopen(fd, mode == WriteMode::Replace ? "wb" : "ab");
  if (stream == nullptr) close(fd);
  return stream;
}

bool SwapInFile(const std::string& from, const std::string& to) {
  // Flush the new content before it takes the old name, so a power loss cannot leave it empty.
  const int fd = open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    fsync(fd);
    close(fd);
  }
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}

bool FreeSpace(const std::string& path, std::uint64_t* available, std::string* volume) {
  struct statvfs space {};
  struct stat info {};
  if (statvfs(path.c_str(), &space) != 0 || stat(path.c_str(), &info) != 0) return false;
  *available = static_cast<std::uint64_t>(space.f_bavail) * static_cast<std::uint64_t>(space.f_frsize);
  *volume = std::to_string(static_cast<unsigned long long>(info.st_dev));
  return true;
}

bool ListDirectory(const std::string& directory, std::vector<DirEntry>* entries) {
  std::unique_ptr<DIR, DirCloser> dir(opendir(directory.c_str()));
  if (!dir) return false;
  while (dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    struct stat info {};
    // lstat: a symbolic link is listed as what it is (a file entry), never followed into.
    if (lstat((directory + "/" + name).c_str(), &info) != 0) continue;
    entries->push_back(DirEntry{name, S_ISDIR(info.st_mode)});
  }
  return true;
}

std::string CurrentDirectory() {
  std::unique_ptr<char, decltype(&std::free)> path(getcwd(nullptr, 0), &std::free);
  return path ? std::string(path.get()) : std::string();
}

bool ModificationTime(const std::string& path, std::int64_t* secondsSinceEpoch) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  *secondsSinceEpoch = static_cast<std::int64_t>(info.st_mtim.tv_sec);
  return true;
}

std::filesystem::path NativePath(const std::string& path) { return std::filesystem::path(path); }

}  // namespace platform
