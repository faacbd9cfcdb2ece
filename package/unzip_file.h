// Owners of minizip's reading handles: the open archive and its open current entry.
#pragma once

#include <minizip/unzip.h>

#include <string>

class UnzipFile {
 public:
  // Opens with the 64-bit entry points, so archives past 4 GiB or 65,535 entries read whole.
  explicit UnzipFile(const std::string& path) : handle_(unzOpen64(path.c_str())) {}
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
