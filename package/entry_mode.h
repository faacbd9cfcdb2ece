// Unix permission bits carried by archive entries.
//
// An entry made on a Unix system (host byte 3 of "version made by") keeps its st_mode in the
// high 16 bits of the external attributes. Only the read, write and execute bits travel,
// so a game executable stays executable; set-user-id, set-group-id and sticky never do.
#pragma once

#include <cstdint>
#include <optional>

struct EntryKind {
  // The permission bits (at most 0777) to give the file; empty when the archive carries none
  // and the file gets the system's default mode.
  std::optional<std::uint32_t> permissions;
  // A symbolic link: its data is the link's target text. It is written as a plain file
  // holding that text, never as a link, so nothing later can be written through it.
  bool symlink = false;
};

EntryKind KindOfEntry(std::uint64_t versionMadeBy, std::uint64_t externalAttributes);
