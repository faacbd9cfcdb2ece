// Files and directories through the wide Win32 functions. Paths arrive as UTF-8 and are widened
// for each call (long form past the classic limit); names read back are returned as UTF-8, so a
// name outside the system's ANSI code page survives the round trip.
#include <windows.h>
// After windows.h.
#include <fcntl.h>
#include <io.h>

#include <vector>

#include "platform/files.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/wide_text.h"
#include "platform/win32/win_handles.h"

namespace platform {
namespace {

using win32::UniqueFind;
using win32::UniqueHandle;
using win32::WidePath;
using win32::WideToUtf8;

// 100-nanosecond units between 1601-01-01 and 1970-01-01.
constexpr ULONGLONG kUnixEpochInFileTime = 116444736000000000ULL;

DWORD Attributes(const std::string& path) { return GetFileAttributesW(WidePath(path).c_str()); }

std::string SearchPattern(const std::string& directory) {
  if (!directory.empty() && (directory.back() == '\\' || directory.back() == '/')) return directory + "*";
  return directory + "\\*";
}

// "name\\" makes the system look through a reparse point at "name"; the point itself is meant.
std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

// Deeper trees than any package holds are refused rather than searched a level at a time.
constexpr int kMaxRemovalDepth = 128;

bool IsGone() {
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// A reparse point (symbolic link, junction, mount point) is removed as itself: a directory
// one with RemoveDirectoryW, which never touches the target, a file one with DeleteFileW.
bool RemoveEntry(const std::string& path, DWORD attributes, int depth);

bool EmptyDirectory(const std::string& directory, int depth) {
  std::vector<WIN32_FIND_DATAW> found;
  {
    WIN32_FIND_DATAW data{};
    UniqueFind search(FindFirstFileW(WidePath(SearchPattern(directory)).c_str(), &data));
    if (!search.Valid()) return IsGone();
    do {
      const std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") found.push_back(data);
    } while (FindNextFileW(search.Get(), &data));
  }
  bool ok = true;
  for (const auto& entry : found) {
    ok = RemoveEntry(directory + "\\" + WideToUtf8(entry.cFileName), entry.dwFileAttributes, depth + 1) && ok;
  }
  return ok;
}

bool RemoveEntry(const std::string& path, DWORD attributes, int depth) {
  const bool directory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const std::wstring wide = WidePath(path);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return (directory ? RemoveDirectoryW(wide.c_str()) : DeleteFileW(wide.c_str())) != 0 || IsGone();
  }
  if (!directory) {
    // A read-only file of the package is still the launcher's to replace.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(wide.c_str()) != 0 || IsGone();
  }
  if (depth >= kMaxRemovalDepth) return false;
  const bool emptied = EmptyDirectory(path, depth);
  return emptied && (RemoveDirectoryW(wide.c_str()) != 0 || IsGone());
}

}  // namespace

bool PathExists(const std::string& path) { return !path.empty() && Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsLink(const std::string& path) {
  if (path.empty()) return false;
  const DWORD attributes = Attributes(WithoutTrailingSeparators(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool FileSize(const std::string& path, std::uint64_t* size) {
  // Query access only: a file another handle is writing can still be sized. The reparse point
  // itself is opened, so a link is seen as what it is rather than as its target.
  UniqueHandle file(CreateFileW(WidePath(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.Get(), &info)) return false;
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) return false;
  *size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return true;
}

bool MakeDirectory(const std::string& path) { return CreateDirectoryW(WidePath(path).c_str(), nullptr) != 0; }

bool RemoveFile(const std::string& path) { return DeleteFileW(WidePath(path).c_str()) != 0; }

bool RemoveEmptyDirectory(const std::string& path) { return RemoveDirectoryW(WidePath(path).c_str()) != 0; }

bool RemovePathNoFollow(const std::string& path) {
  if (path.empty()) return false;
  const std::string name = WithoutTrailingSeparators(path);
  const DWORD attributes = Attributes(name);
  if (attributes == INVALID_FILE_ATTRIBUTES) return IsGone();
  return RemoveEntry(name, attributes, 0);
}

std::FILE* OpenFileNoFollow(const std::string& path, WriteMode mode) {
  const bool replace = mode == WriteMode::Replace;
  if (replace && IsLink(path) && !RemovePathNoFollow(path)) return nullptr;
  // FILE_FLAG_OPEN_REPARSE_POINT: should a link appear in between, the link is opened, never its target.
  UniqueHandle file(CreateFileW(WidePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                replace ? CREATE_ALWAYS : OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return nullptr;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file.Get()), replace ? 0 : _O_APPEND);
  if (fd < 0) return nullptr;
  file.Release();  // the descriptor owns the handle now
  std::FILE* stream = _fdopen(fd, replace ? "wb" : "ab");
  if (stream == nullptr) _close(fd);
  return stream;
}

bool SwapInFile(const std::string& from, const std::string& to) {
  // Write-through: the new content is on disk before it takes the old name.
  return MoveFileExW(WidePath(from).c_str(), WidePath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool MoveIntoPlace(const std::string& from, const std::string& to) {
  const std::wstring source = WidePath(from);
  const std::wstring target = WidePath(to);
  if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return true;
  // A read-only file of an earlier release refuses to be replaced; its attribute goes first.
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) return false;
  SetFileAttributesW(target.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool FreeSpace(const std::string& path, std::uint64_t* available, std::string* volume) {
  const std::wstring wide = WidePath(path);
  ULARGE_INTEGER free{};
  if (GetDiskFreeSpaceExW(wide.c_str(), &free, nullptr, nullptr) == 0) return false;
  std::vector<wchar_t> root(wide.size() + MAX_PATH + 1);  // a relative path's root can be longer than it
  if (GetVolumePathNameW(wide.c_str(), root.data(), static_cast<DWORD>(root.size())) == 0) return false;
  *available = free.QuadPart;
  *volume = WideToUtf8(root.data());
  return true;
}

bool ListDirectory(const std::string& directory, std::vector<DirEntry>* entries) {
  WIN32_FIND_DATAW data{};
  UniqueFind search(FindFirstFileW(WidePath(SearchPattern(directory)).c_str(), &data));
  if (!search.Valid()) return false;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    if (data.dwFileAttributes == INVALID_FILE_ATTRIBUTES) continue;
    entries->push_back(DirEntry{WideToUtf8(name), (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(search.Get(), &data));
  return true;
}

std::string CurrentDirectory() {
  // 512 characters serve nearly always; a longer folder gets a buffer of the size the system asks.
  std::vector<wchar_t> buffer(512);
  DWORD length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length >= buffer.size()) {
    buffer.resize(length + 1);
    length = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  }
  if (length == 0 || length >= buffer.size()) return {};
  return WideToUtf8(std::wstring(buffer.data(), length));
}

bool ModificationTime(const std::string& path, std::int64_t* secondsSinceEpoch) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(WidePath(path).c_str(), GetFileExInfoStandard, &data)) return false;
  ULARGE_INTEGER time{};
  time.LowPart = data.ftLastWriteTime.dwLowDateTime;
  time.HighPart = data.ftLastWriteTime.dwHighDateTime;
  *secondsSinceEpoch =
      (static_cast<std::int64_t>(time.QuadPart) - static_cast<std::int64_t>(kUnixEpochInFileTime)) / 10000000;
  return true;
}

std::filesystem::path NativePath(const std::string& path) { return std::filesystem::path(WidePath(path)); }

}  // namespace platform
