// Owners of minizip's reading handles: the open archive and its open current entry.
#pragma once

#include <minizip/unzip.h>

#include <string>

#ifdef _WIN32
#include <minizip/iowin32.h>

#include "platform/win32/wide_path.h"
#endif

// Opens with the 64-bit entry points, so archives past 4 GiB or 65,535 entries read whole. On
// Windows through minizip's wide Win32 file functions: its stdio ones cut every seek offset to a
// 32-bit long there, so nothing past the first 2 GiB could be found; and the path is UTF-8, as
// every other file's, so its folder may lie outside the ANSI code page or past 260 characters.
inline unzFile OpenArchive64(const std::string& path) {
#ifdef _WIN32
  zlib_filefunc64_def functions{};
  fill_win32_filefunc64W(&functions);
  const std::wstring wide = platform::win32::WidePath(path);
  return unzOpen2_64(wide.c_str(), &functions);
#else
  return unzOpen64(path.c_str());
#endif
}

class UnzipFile {
 public:
  explicit UnzipFile(const std::string& path) : handle_(OpenArchive64(path)) {}
  ~UnzipFile() {
    if (handle_ != nullptr) unzClose(handle_);
  }
  UnzipFile(const UnzipFile&) = delete;
  UnzipFile& operator=(const UnzipFile&) = delete;

  explicit operator bool() const { return handle_ != nullptr; }
  unzFile get() const { return handle_; }

 private:
  unzFile handle_;
};

// The archive's current entry, opened for reading until closed or destroyed.
class OpenEntry {
 public:
  explicit OpenEntry(unzFile archive) : archive_(archive), open_(unzOpenCurrentFile(archive) == UNZ_OK) {}
  ~OpenEntry() {
    if (open_) unzCloseCurrentFile(archive_);
  }
  OpenEntry(const OpenEntry&) = delete;
  OpenEntry& operator=(const OpenEntry&) = delete;

  explicit operator bool() const { return open_; }
  // UNZ_CRCERROR when the whole entry was read and its checksum does not match.
  int Close() {
    open_ = false;
    return unzCloseCurrentFile(archive_);
  }

 private:
  unzFile archive_;
  bool open_;
};
