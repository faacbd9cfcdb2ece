#include "package/remote_zip.h"

#include <algorithm>
#include <limits>
#include <unordered_set>
#include <utility>

#include "package/zip_format.h"

namespace {

using namespace zip_format;

// A zip64 end record's extensible data is for multi-disk and encryption data, which no package
// carries; a record claiming more than this is not trusted to be worth fetching.
constexpr std::uint64_t kMaxZip64Record = 1 << 20;

// Little-endian reads within a buffer whose bounds the caller checked.
std::uint64_t Get(std::string_view bytes, std::uint64_t at, int width) {
  return LoadLittleEndian(bytes.data() + at, width);
}

bool HasSignature(std::string_view bytes, std::uint64_t at, const char* signature) {
  return at <= bytes.size() && bytes.size() - at >= 4 && bytes.substr(at, 4) == std::string_view(signature, 4);
}

// a + b <= limit, without wrapping.
bool FitsWithin(std::uint64_t a, std::uint64_t b, std::uint64_t limit) { return a <= limit && b <= limit - a; }

DirectoryLookup Malformed() { return {}; }

DirectoryLookup NeedTail(std::uint64_t bytes) {
  DirectoryLookup lookup;
  lookup.kind = DirectoryLookup::Kind::kNeedTail;
  lookup.tailBytes = bytes;
  return lookup;
}

// The end record's position in `tail`: the last signature whose comment runs exactly to the end,
// or failing that the last one whose fixed part fits (unzip reads archives with bytes after the
// comment the same way). npos when there is none.
std::size_t FindEndRecord(std::string_view tail) {
  if (tail.size() < kEndRecordSize) return std::string_view::npos;
  std::size_t loose = std::string_view::npos;
  const std::uint64_t lowest =
      tail.size() > kEndRecordSize + kMaxComment ? tail.size() - kEndRecordSize - kMaxComment : 0;
  for (std::uint64_t at = tail.size() - kEndRecordSize + 1; at-- > lowest;) {
    if (!HasSignature(tail, at, "PK\x05\x06")) continue;
    if (at + kEndRecordSize + Get(tail, at + 20, 2) == tail.size()) return static_cast<std::size_t>(at);
    if (loose == std::string_view::npos) loose = static_cast<std::size_t>(at);
  }
  return loose;
}

struct EndValues {
  std::uint64_t entries = 0, size = 0, offset = 0;
  std::uint64_t end = 0;  // where the central directory must end: the first end record's position
  bool zip64 = false;
};

}  // namespace

DirectoryLookup FindCentralDirectory(std::string_view tail, std::uint64_t archiveSize) {
  if (tail.size() > archiveSize) return Malformed();
  const std::uint64_t tailStart = archiveSize - tail.size();
  const std::size_t end = FindEndRecord(tail);
  if (end == std::string_view::npos) {
    const std::uint64_t wanted = std::min(archiveSize, kEndRecordSearchBytes);
    return tail.size() < wanted ? NeedTail(wanted) : Malformed();
  }
  const std::uint64_t endAt = tailStart + end;
  if (Get(tail, end + 4, 2) != 0 || Get(tail, end + 6, 2) != 0) return Malformed();  // spans disks

  EndValues values;
  values.entries = Get(tail, end + 10, 2);
  values.size = Get(tail, end + 12, 4);
  values.offset = Get(tail, end + 16, 4);
  values.end = endAt;

  // The zip64 locator sits right before the end record. A writer may put the real values in the
  // end record as well, so only the locator tells where the central directory ends: a tail that
  // stops short of its place asks for it and the record before it.
  if (endAt >= kZip64LocatorSize) {
    if (end < kZip64LocatorSize) {
      return NeedTail(archiveSize -
                      (endAt - kZip64LocatorSize - std::min(endAt - kZip64LocatorSize, kZip64EndRecordSize)));
    } else if (HasSignature(tail, end - kZip64LocatorSize, "PK\x06\x07")) {
      const std::uint64_t locator = end - kZip64LocatorSize;
      const std::uint64_t locatorAt = endAt - kZip64LocatorSize;
      if (Get(tail, locator + 4, 4) != 0 || Get(tail, locator + 16, 4) > 1) return Malformed();
      // A prefix that the recorded offsets leave out moves the record too: it then lies right
      // before the locator, where a record without extensible data always lies.
      if (locatorAt < kZip64EndRecordSize) return Malformed();
      const std::uint64_t recorded = Get(tail, locator + 8, 8);
      const std::uint64_t adjacent = locatorAt - kZip64EndRecordSize;
      const bool recordedFits = recorded <= adjacent && adjacent - recorded <= kMaxZip64Record;
      std::uint64_t recordAt = 0;
      if (recordedFits && recorded >= tailStart && HasSignature(tail, recorded - tailStart, "PK\x06\x06")) {
        recordAt = recorded;
      } else if (adjacent >= tailStart && HasSignature(tail, adjacent - tailStart, "PK\x06\x06")) {
        recordAt = adjacent;
      } else if (recordedFits && recorded < tailStart) {
        return NeedTail(archiveSize - recorded);
      } else if (adjacent < tailStart) {
        return NeedTail(archiveSize - adjacent);
      } else {
        return Malformed();
      }
      const std::uint64_t record = recordAt - tailStart;
      if (!HasSignature(tail, record, "PK\x06\x06")) return Malformed();
      const std::uint64_t recordSize = Get(tail, record + 4, 8);
      if (recordSize < kZip64EndRecordSize - 12 || !FitsWithin(recordAt + 12, recordSize, locatorAt))
        return Malformed();
      if (Get(tail, record + 16, 4) != 0 || Get(tail, record + 20, 4) != 0) return Malformed();
      if (Get(tail, record + 24, 8) != Get(tail, record + 32, 8)) return Malformed();
      values.entries = Get(tail, record + 32, 8);
      values.size = Get(tail, record + 40, 8);
      values.offset = Get(tail, record + 48, 8);
      values.end = recordAt;
      values.zip64 = true;
    }
  }
  if (!FitsWithin(values.offset, values.size, values.end)) return Malformed();

  DirectoryLookup lookup;
  lookup.kind = DirectoryLookup::Kind::kFound;
  lookup.place.prefix = values.end - (values.offset + values.size);
  lookup.place.offset = values.offset + lookup.place.prefix;
  lookup.place.size = values.size;
  lookup.place.entries = values.entries;
  lookup.place.zip64 = values.zip64;
  return lookup;
}

namespace {

// Replaces the 32-bit fields that say "see zip64" by the zip64 extra field's values, in the
// order the format gives them. False when a needed value is missing.
bool ApplyZip64Extra(std::string_view extra, bool sizeWide, bool compressedWide, bool offsetWide, RemoteEntry& entry) {
  std::uint64_t at = 0;
  while (extra.size() - at >= 4) {
    const std::uint64_t id = Get(extra, at, 2);
    const std::uint64_t length = Get(extra, at + 2, 2);
    at += 4;
    if (length > extra.size() - at) return false;
    if (id == kZip64ExtraId) {
      std::uint64_t field = at;
      const std::uint64_t fieldEnd = at + length;
      for (auto [wide, value] : {std::pair{sizeWide, &entry.size}, std::pair{compressedWide, &entry.compressedSize},
                                 std::pair{offsetWide, &entry.localHeaderOffset}}) {
        if (!wide) continue;
        if (fieldEnd - field < 8) return false;
        *value = Get(extra, field, 8);
        field += 8;
      }
      return true;
    }
    at += length;
  }
  return !sizeWide && !compressedWide && !offsetWide;
}

}  // namespace

bool ParseCentralDirectory(std::string_view directory, const DirectoryPlace& place, std::vector<RemoteEntry>& entries) {
  entries.clear();
  if (directory.size() != place.size) return false;
  std::vector<RemoteEntry> parsed;
  std::uint64_t at = 0;
  while (at < directory.size()) {
    if (directory.size() - at < kCentralHeaderSize || !HasSignature(directory, at, "PK\x01\x02")) return false;
    const std::uint64_t nameLength = Get(directory, at + 28, 2);
    const std::uint64_t extraLength = Get(directory, at + 30, 2);
    const std::uint64_t commentLength = Get(directory, at + 32, 2);
    const std::uint64_t recordSize = kCentralHeaderSize + nameLength + extraLength + commentLength;
    if (directory.size() - at < recordSize) return false;
    RemoteEntry entry;
    entry.versionMadeBy = static_cast<std::uint16_t>(Get(directory, at + 4, 2));
    entry.externalAttributes = static_cast<std::uint32_t>(Get(directory, at + 38, 4));
    entry.flags = static_cast<std::uint16_t>(Get(directory, at + 8, 2));
    entry.method = static_cast<std::uint16_t>(Get(directory, at + 10, 2));
    entry.crc32 = static_cast<std::uint32_t>(Get(directory, at + 16, 4));
    entry.compressedSize = Get(directory, at + 20, 4);
    entry.size = Get(directory, at + 24, 4);
    const std::uint64_t disk = Get(directory, at + 34, 2);
    entry.localHeaderOffset = Get(directory, at + 42, 4);
    entry.name = std::string(directory.substr(at + kCentralHeaderSize, nameLength));
    const std::string_view extra = directory.substr(at + kCentralHeaderSize + nameLength, extraLength);
    if (!ApplyZip64Extra(extra, entry.size == kZip64Marker32, entry.compressedSize == kZip64Marker32,
                         entry.localHeaderOffset == kZip64Marker32, entry)) {
      return false;
    }
    if (disk != 0 && disk != kZip64Marker16) return false;
    // The recorded offset leaves the prefix out; the data must end before the central directory.
    if (!FitsWithin(entry.localHeaderOffset, place.prefix, place.offset)) return false;
    entry.localHeaderOffset += place.prefix;
    if (!FitsWithin(entry.localHeaderOffset, kLocalHeaderSize, place.offset) ||
        !FitsWithin(entry.localHeaderOffset + kLocalHeaderSize, entry.compressedSize, place.offset)) {
      return false;
    }
    parsed.push_back(std::move(entry));
    at += recordSize;
  }
  const std::uint64_t count = place.zip64 ? parsed.size() : parsed.size() % 65536;
  if (count != place.entries) return false;
  entries = std::move(parsed);
  return true;
}

bool JoinEntryRanges(const std::vector<RemoteEntry>& entries, const std::vector<std::size_t>& wanted,
                     const DirectoryPlace& place, std::vector<ByteRange>& ranges, std::uint64_t maxGap) {
  ranges.clear();
  std::vector<std::uint64_t> starts;
  starts.reserve(entries.size());
  for (const auto& entry : entries) starts.push_back(entry.localHeaderOffset);
  std::sort(starts.begin(), starts.end());
  if (std::adjacent_find(starts.begin(), starts.end()) != starts.end()) return false;

  std::vector<std::size_t> order;
  std::unordered_set<std::size_t> seen;
  for (const std::size_t index : wanted) {
    if (index >= entries.size()) return false;
    if (seen.insert(index).second) order.push_back(index);
  }
  std::sort(order.begin(), order.end(),
            [&](std::size_t a, std::size_t b) { return entries[a].localHeaderOffset < entries[b].localHeaderOffset; });

  std::vector<ByteRange> joined;
  for (const std::size_t index : order) {
    const RemoteEntry& entry = entries[index];
    const auto next = std::upper_bound(starts.begin(), starts.end(), entry.localHeaderOffset);
    const std::uint64_t end = next == starts.end() ? place.offset : *next;
    if (end > place.offset || end - entry.localHeaderOffset < kLocalHeaderSize ||
        end - entry.localHeaderOffset - kLocalHeaderSize < entry.compressedSize) {
      return false;
    }
    if (!joined.empty() && entry.localHeaderOffset - (joined.back().last + 1) <= maxGap) {
      joined.back().last = end - 1;
    } else {
      joined.push_back({entry.localHeaderOffset, end - 1, {}});
    }
    joined.back().entries.push_back(index);
  }
  ranges = std::move(joined);
  return true;
}

std::uint64_t RangeBytes(const std::vector<ByteRange>& ranges) {
  std::uint64_t total = 0;
  for (const auto& range : ranges) total += range.last - range.first + 1;
  return total;
}
