// One archive entry fetched by range (its local header, data and any data descriptor), inflated
// into its place in the staging folder.
//
// Policy: the bytes came from the network and the entry's central directory record from
// another request, so nothing of either is trusted: the local header must be one and carry the
// record's name; the data must lie inside the bytes fetched; the sizes, the CRC-32 and the
// SHA-256 of what was written must be the central directory's and the file list's. The sizes come from the central
// directory, so data descriptors and zip64 local headers need no reading. The path is written
// as the archive unpacking writes names (package/entry_path.h): nothing outside the staging
// folder, links and folders in the way replaced, never followed. A file that fails any check is
// removed again. A file gets the permission bits its entry carries, as unpacking gives them;
// where the entry carries none, a file replacing an installed one keeps that file's bits.
#pragma once

#include <cstdint>
#include <string>

#include "package/remote_zip.h"

// Where an entry's bytes lie: in `file`, from `offset` on, `span` bytes (the entry's share of a
// fetched range, from its local header to the next entry's start).
struct EntrySpan {
  std::string file;
  std::uint64_t offset = 0;
  std::uint64_t span = 0;
};

// Inflates `entry` (stored or deflated) into `staging` at `path` ("/" between folders), checked
// against the entry's size and CRC-32 and against `sha256` (lower-case hex); `installedRoot` is
// where the file is installed now (its mode is kept). Empty on success, else the reason, naming
// the file.
std::string InstallEntry(const EntrySpan& bytes, const RemoteEntry& entry, const std::string& path,
                         const std::string& sha256, const std::string& staging, const std::string& installedRoot);
