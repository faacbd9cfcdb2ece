// Builds real zip archives for the extraction tests with minizip's writing half.
#pragma once

#include <minizip/zip.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

struct EntryOptions {
  // Stored as made on Unix with this st_mode (type and permission bits); absent: made on DOS.
  std::optional<std::uint32_t> unixMode;
  bool stored = false;  // no compression, so the data can be found and altered in the file
  bool zip64 = false;   // write the entry's zip64 extra field
  // A name outside ASCII is flagged UTF-8, as most writers do; unflagged it is stored as the
  // packers of GBK names store theirs.
  bool unflaggedName = false;

  static EntryOptions Unix(std::uint32_t mode) {
    EntryOptions options;
    options.unixMode = mode;
    return options;
  }
  static EntryOptions Stored() {
    EntryOptions options;
    options.stored = true;
    return options;
  }
  static EntryOptions Unflagged() {
    EntryOptions options;
    options.unflaggedName = true;
    return options;
  }
  EntryOptions WithZip64() const {
    EntryOptions options = *this;
    options.zip64 = true;
    return options;
  }
};

class ZipBuilder {
 public:
  explicit ZipBuilder(const std::filesystem::path& path);
  ~ZipBuilder();
  ZipBuilder(const ZipBuilder&) = delete;
  ZipBuilder& operator=(const ZipBuilder&) = delete;

  // The name goes into the archive byte for byte, hostile or not (see EntryOptions for its flag).
  void Add(const std::string& name, const std::string& data, const EntryOptions& options = {});
  // A folder entry: the name should end with "/".
  void AddFolder(const std::string& name);
  // Writes the central directory; the archive is complete afterwards.
  void Close();

 private:
  zipFile zip_;
};

// The whole file as bytes.
std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
// Inserts the zip64 end record and its locator before the end record of an archive without a
// comment, for `entries` entries: what a writer with zip64 support adds past 65,535 entries.
void AddZip64EndRecords(const std::filesystem::path& path, std::uint64_t entries);
// Replaces every occurrence of `from` by `to` (same length); returns how many were replaced.
// Removes the zip64 end record and its locator that a writer put before the end record of an
// archive without a comment; false when there were none.
bool RemoveZip64EndRecords(const std::filesystem::path& path);
int PatchBytes(const std::filesystem::path& path, const std::string& from, const std::string& to);
