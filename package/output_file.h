// The file an archive entry is written to.
//
// An existing file is replaced. A symbolic link (on Windows any reparse point) planted in the
// data folder is dropped, never followed, so it cannot redirect the write. A folder in the
// file's place (the previous release had a folder of that name) is removed with its contents,
// again without descending into any link below it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#ifdef _WIN32
#include <cstdio>
#endif

// Makes `path` (without a final separator) a real folder for the entries below it: a folder
// there is kept, a file or a link in its place is removed first, never followed. False when the
// folder is not there afterwards.
bool MakeFolderInPlace(const std::string& path);

// Waits until every OutputFile closed so far is closed for good (on Windows their closing goes
// on in the background; see package/close_pool.h). False when any of them failed to close.
bool FinishClosingFiles();

class OutputFile {
 public:
  // `permissions` (at most 0777) replaces the default mode where the system has one.
  OutputFile(const std::string& path, std::optional<std::uint32_t> permissions);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  explicit operator bool() const;
  // False when not every byte could be written (a full disk, an I/O error).
  bool Write(const char* data, std::size_t size);
  // False when the file's data could not be stored completely, or it was closed already. On Windows the handle may
  // still be open afterwards, until FinishClosingFiles.
  bool Close();

 private:
#ifdef _WIN32
  std::FILE* file_ = nullptr;
#else
  int descriptor_ = -1;
#endif
};
