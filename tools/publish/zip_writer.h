// Writes a package archive entry by entry with minizip's zip half.
//
// Every entry records Unix as the system it was made on (host byte 3 of "version made by") and
// the Unix file type and permission bits in the high 16 bits of its external attributes, so
// that the launcher can keep executables executable. Folders also carry the MS-DOS folder bit
// that Windows tools look at.
//
// Zip64 fields appear only where a 32-bit field cannot hold the value: 64-bit sizes for a file
// that reaches 4 GiB (in its local header from the start, since the header precedes the data),
// a 64-bit offset for an entry that starts past 4 GiB, and the zip64 end records for an archive
// with 65,535 entries or more or a central directory past 4 GiB. Every other entry is plain.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>

namespace publish {

// Bytes of the current file written so far; called after every block.
using BlockWritten = std::function<void(std::uint64_t bytes)>;

class ZipWriter {
 public:
  // Creates (or truncates) the archive; throws PublishError when it cannot.
  explicit ZipWriter(const std::filesystem::path& archive);
  ~ZipWriter();  // abandons an archive that was not closed; the caller deletes the file
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // `name` without the trailing "/", which is added here. Throws PublishError.
  void AddFolder(const std::string& name, std::uint32_t permissions, std::time_t modified);
  // What the file's bytes gave as they were packed.
  struct FileDigest {
    std::uint64_t size = 0;
    std::uint32_t crc32 = 0;  // the entry's CRC-32
    std::string sha256;       // 64 lower-case hex digits
  };
  // Packs the file's bytes deflated. Throws PublishError.
  FileDigest AddFile(const std::string& name, const std::filesystem::path& source, std::uint32_t permissions,
                     std::time_t modified, const BlockWritten& onBlock);
  // Writes the central directory; throws PublishError when that fails.
  void Close();

 private:
  void OpenEntry(const std::string& entryName, std::uint32_t externalAttributes, std::time_t modified, bool large);
  void CloseEntry(const std::string& entryName);

  void* zip_ = nullptr;  // zipFile
  std::filesystem::path archive_;
  std::string archiveName_;
  std::uint64_t entries_ = 0;
};

// The external attributes word for a Unix mode (type and permission bits).
std::uint32_t UnixExternalAttributes(std::uint32_t mode, bool isFolder);

}  // namespace publish
