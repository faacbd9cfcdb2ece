// Reading a zip archive that lies on a server, from byte buffers fetched by range: the end of
// central directory record (and the zip64 locator and record) from the archive's last bytes, the
// central directory from its own range, and the ranges that hold chosen entries.
//
// Policy: every byte here comes from the network. Each offset and size is checked against the
// buffer it is read from and against the archive's size before use, sizes are 64-bit throughout,
// and a record that does not fit is refused, never guessed. Archives with bytes before the first
// entry (a prefix that the recorded offsets do not count) are read as unzip reads them: the prefix
// is the distance between where the central directory lies and where the end record says it lies.
// Ranges: an entry's bytes run from its local header to the next entry's start (or the central
// directory), so a data descriptor after the data is included. Entries next to each other are one
// range; a gap between two wanted entries is fetched with them when it is at most kMaxJoinedGap,
// since one more request costs a round trip, and 64 KiB is about what a round trip of 10 ms
// carries at 50 Mbit/s.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// How many of the archive's last bytes to fetch first: the end record with the longest comment
// (22 + 65535), the zip64 locator (20) and a zip64 end record without extensible data (56).
inline constexpr std::uint64_t kEndRecordSearchBytes = 22 + 65535 + 20 + 56;
// Gaps between wanted entries up to this size are fetched rather than split into two requests.
inline constexpr std::uint64_t kMaxJoinedGap = 64 * 1024;

// Where the central directory is.
struct DirectoryPlace {
  std::uint64_t offset = 0;   // of its first byte in the archive (the prefix counted)
  std::uint64_t size = 0;     // bytes
  std::uint64_t entries = 0;  // as the end records count them
  std::uint64_t prefix = 0;   // bytes before the first entry that the recorded offsets leave out
  bool zip64 = false;         // the count came from a zip64 end record
};

struct DirectoryLookup {
  enum class Kind {
    kFound,      // `place` is set
    kNeedTail,   // fetch the last `tailBytes` bytes (always more than given) and ask again
    kMalformed,  // no end record, or records that contradict each other or the archive's size
  };
  Kind kind = Kind::kMalformed;
  DirectoryPlace place;
  std::uint64_t tailBytes = 0;
};

// Finds the central directory from `tail`, the last tail.size() bytes of an archive of
// `archiveSize` bytes. A tail shorter than kEndRecordSearchBytes that finds no end record asks for
// more when the archive has more; so does a zip64 end record that starts before the tail.
DirectoryLookup FindCentralDirectory(std::string_view tail, std::uint64_t archiveSize);

// One central directory entry.
struct RemoteEntry {
  std::string name;  // bytes of the stored name, as the archive gives them
  std::uint16_t method = 0;
  std::uint16_t flags = 0;  // general purpose bits (bit 0: encrypted, bit 3: data descriptor, bit 11: UTF-8)
  std::uint32_t crc32 = 0;
  std::uint64_t compressedSize = 0, size = 0;
  std::uint64_t localHeaderOffset = 0;   // in the archive, the prefix counted
  std::uint16_t versionMadeBy = 0;       // the maker's system in the high byte
  std::uint32_t externalAttributes = 0;  // with a Unix maker, st_mode in the high 16 bits
};

// The entries of the central directory held in `directory` (exactly place.size bytes). Zip64
// extra fields replace the 32-bit fields that hold 0xFFFFFFFF. Empty result and false when an
// entry runs past the buffer, lacks a zip64 value it needs, or places its data past the central
// directory, or when the count differs from the end record's (a 16-bit count is taken modulo
// 65536, as archives of many entries written without zip64 have it).
bool ParseCentralDirectory(std::string_view directory, const DirectoryPlace& place, std::vector<RemoteEntry>& entries);

// One byte range to fetch; `first` and `last` inclusive.
struct ByteRange {
  std::uint64_t first = 0, last = 0;
  std::vector<std::size_t> entries;  // indexes of the wanted entries it holds, by offset
};

// The ranges holding the local headers and data of `wanted` (indexes into `entries`), by offset.
// An entry ends where the next entry of the whole directory starts, the last one where the
// central directory starts. Empty result and false when a wanted entry's span cannot hold its
// local header and compressed data, or two entries share a start.
// Gaps up to `maxGap` bytes between two wanted spans are fetched with them.
bool JoinEntryRanges(const std::vector<RemoteEntry>& entries, const std::vector<std::size_t>& wanted,
                     const DirectoryPlace& place, std::vector<ByteRange>& ranges, std::uint64_t maxGap = kMaxJoinedGap);

// Bytes the ranges cover in all.
std::uint64_t RangeBytes(const std::vector<ByteRange>& ranges);
