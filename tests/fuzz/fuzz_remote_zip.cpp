// A remote archive's end records and central directory as a hostile server may serve them: the
// input is the whole archive, read as the launcher reads it by ranges (the tail, a longer tail
// when asked, the central directory), then the ranges of every entry joined.
#include <algorithm>
#include <string_view>
#include <vector>

#include "package/remote_zip.h"
#include "tests/fuzz/fuzz_entries.h"

namespace fuzz {

int RemoteZipArchive(const std::uint8_t* data, std::size_t size) {
  const std::string_view archive(reinterpret_cast<const char*>(data), size);
  std::uint64_t tailBytes = std::min<std::uint64_t>(size, 64);  // small first, so longer tails are asked for
  DirectoryLookup lookup;
  for (int round = 0; round < 4; ++round) {
    lookup = FindCentralDirectory(archive.substr(size - tailBytes), size);
    if (lookup.kind != DirectoryLookup::Kind::kNeedTail) break;
    Require(lookup.tailBytes > tailBytes, "a longer tail is asked for, never the same or a shorter one");
    Require(lookup.tailBytes <= size, "the tail asked for lies inside the archive");
    tailBytes = lookup.tailBytes;
  }
  if (lookup.kind != DirectoryLookup::Kind::kFound) return 0;
  const DirectoryPlace& place = lookup.place;
  Require(place.offset <= size && place.size <= size - place.offset, "the central directory lies inside the archive");

  std::vector<RemoteEntry> entries;
  if (!ParseCentralDirectory(archive.substr(place.offset, place.size), place, entries)) {
    Require(entries.empty(), "a refused directory gives no entries");
    return 0;
  }
  for (const auto& entry : entries) {
    Require(entry.localHeaderOffset <= place.offset && entry.compressedSize <= place.offset - entry.localHeaderOffset,
            "an entry's data ends before the central directory");
  }
  std::vector<std::size_t> all(entries.size());
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
  std::vector<ByteRange> ranges;
  if (!JoinEntryRanges(entries, all, place, ranges)) return 0;
  std::size_t held = 0;
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    Require(ranges[i].first <= ranges[i].last && ranges[i].last < place.offset, "a range lies before the directory");
    Require(i == 0 || ranges[i - 1].last < ranges[i].first, "ranges are in order and apart");
    held += ranges[i].entries.size();
  }
  Require(held == entries.size(), "every wanted entry is in one range");
  return 0;
}

}  // namespace fuzz
