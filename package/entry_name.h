// How an archive's stored entry name becomes the launcher's name for it, UTF-8 on every system.
//
// Policy, in this order:
//   1. A name flagged UTF-8 (general purpose bit 11) is UTF-8; the launcher's publisher and most
//      tools write non-ASCII names so. Invalid UTF-8 under the flag is refused (empty result).
//   2. An unflagged name with an Info-ZIP Unicode Path field (0x7075, version 1) whose checksum
//      is that of the stored name takes the field's UTF-8 name: Info-ZIP's zip stores names so.
//      A field that does not match (the name was changed after it was written) is ignored.
//   3. An unflagged name made on Unix that is valid UTF-8 is UTF-8: Info-ZIP's zip on a system
//      whose names are UTF-8 stores them so, without flag or field.
//   4. Any other unflagged name is GBK, the code page this game's packers (Windows tools) write
//      in, converted from code page 936 whatever the system's own code page is.
#pragma once

#include <minizip/unzip.h>

#include <cstdint>
#include <string>

// General purpose flag: the name and comment are UTF-8.
inline constexpr std::uint16_t kUtf8NameFlag = 1u << 11;

// What the central directory says of an entry's name.
struct StoredName {
  std::string bytes;
  std::uint16_t flags = 0;          // general purpose flags
  std::uint16_t versionMadeBy = 0;  // the maker's system in the high byte
  std::string extraField;
};

// The archive's current entry: its information and its stored name, read at full length (a name
// cut to a buffer would be a different path); false when the header cannot be read.
bool ReadCurrentEntry(unzFile archive, unz_file_info64& info, StoredName& name);

// The entry's name as the launcher's paths spell it; empty when a flagged name is not UTF-8.
std::string DecodeEntryName(const StoredName& stored);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(const std::string& text);
