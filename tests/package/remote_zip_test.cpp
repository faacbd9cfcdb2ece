// A remote archive read from byte buffers as ranges would deliver them: archives written at test
// time by Info-ZIP's zip (plain, forced zip64, with a comment, with a prefix) and Python's zipfile
// (forced zip64 entries), each compared with Python's own reading; then damaged records.
#include "package/remote_zip.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/file_text.h"
#include "tests/support/scratch_dir.h"

namespace {
namespace fs = std::filesystem;
using testsupport::ReadText;
using testsupport::WriteText;

int Shell(const std::string& command) {
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Python's view of each entry: name → (size, compressed size, CRC-32, local header offset).
struct Expected {
  std::uint64_t size = 0, compressedSize = 0, crc32 = 0, offset = 0;
};

std::map<std::string, Expected> PythonListing(const fs::path& archive, const fs::path& scratch) {
  const fs::path listing = scratch / "listing.txt";
  // Names as stored: zipfile decodes those without the UTF-8 flag as code page 437.
  const std::string command =
      "python3 -c 'import sys,zipfile\nfor i in zipfile.ZipFile(sys.argv[1]).infolist(): "
      "sys.stdout.buffer.write(b\"%d %d %d %d \" % (i.file_size, i.compress_size, i.CRC, i.header_offset) + "
      "i.filename.encode(\"utf-8\" if i.flag_bits & 0x800 else \"cp437\") + b\"\\n\")' '" +
      archive.string() + "' > '" + listing.string() + "'";
  EXPECT_EQ(Shell(command), 0);
  std::map<std::string, Expected> entries;
  std::istringstream lines(ReadText(listing));
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    Expected e;
    fields >> e.size >> e.compressedSize >> e.crc32 >> e.offset;
    std::string name;
    std::getline(fields >> std::ws, name);
    entries[name] = e;
  }
  return entries;
}

std::string_view Tail(const std::string& archive, std::uint64_t bytes) {
  const std::uint64_t take = std::min<std::uint64_t>(bytes, archive.size());
  return std::string_view(archive).substr(archive.size() - take);
}

// The central directory as a launcher reads it: the tail first, a longer tail when asked.
DirectoryLookup Lookup(const std::string& archive, std::uint64_t firstTail = kEndRecordSearchBytes) {
  DirectoryLookup lookup = FindCentralDirectory(Tail(archive, firstTail), archive.size());
  for (int round = 0; round < 3 && lookup.kind == DirectoryLookup::Kind::kNeedTail; ++round) {
    lookup = FindCentralDirectory(Tail(archive, lookup.tailBytes), archive.size());
  }
  return lookup;
}

std::vector<RemoteEntry> Entries(const std::string& archive, const DirectoryPlace& place) {
  std::vector<RemoteEntry> entries;
  EXPECT_TRUE(ParseCentralDirectory(std::string_view(archive).substr(place.offset, place.size), place, entries));
  return entries;
}

class RemoteZipTest : public ::testing::Test {
 protected:
  void SetUp() override {
    build_ = scratch_.Path() / "build";
    std::mt19937 random(7);
    std::string noise(300000, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    WriteText(build_ / "kolv.exe", "#!/bin/sh\necho game\n");
    WriteText(build_ / "data" / "noise.bin", noise);  // incompressible: a gap past 64 KiB
    WriteText(build_ / "data" / "small.txt", "small");
    WriteText(build_ / "data" / "zeros.bin", std::string(100000, '\0'));
    WriteText(build_ / "data" / "empty.cfg", "");
    WriteText(build_ / "资源" / "数据.txt", "utf-8 name");
  }

  // Info-ZIP's zip over the build, with extra options.
  std::string InfoZip(const std::string& options) {
    const fs::path archive = scratch_.Path() / "infozip.zip";
    fs::remove(archive);
    // Names in this order, folders included, so the layout is known.
    EXPECT_EQ(Shell("cd '" + build_.string() + "' && zip -q -X " + options + " '" + archive.string() +
                    "' kolv.exe data/ data/noise.bin data/small.txt data/zeros.bin data/empty.cfg 资源/ 资源/数据.txt"),
              0);
    return archive.string();
  }

  // Checks every entry against Python's reading, and that its local header is where it says.
  void ExpectMatchesPython(const std::string& path, const std::string& bytes, std::uint64_t prefix) {
    const DirectoryLookup lookup = Lookup(bytes);
    ASSERT_EQ(lookup.kind, DirectoryLookup::Kind::kFound);
    EXPECT_EQ(lookup.place.prefix, prefix);
    const auto entries = Entries(bytes, lookup.place);
    const auto expected = PythonListing(path, scratch_.Path());
    ASSERT_EQ(entries.size(), expected.size());
    EXPECT_EQ(lookup.place.entries, entries.size());
    for (const auto& entry : entries) {
      SCOPED_TRACE(entry.name);
      ASSERT_TRUE(expected.count(entry.name));
      const Expected& e = expected.at(entry.name);
      EXPECT_EQ(entry.size, e.size);
      EXPECT_EQ(entry.compressedSize, e.compressedSize);
      EXPECT_EQ(entry.crc32, e.crc32);
      // Python adds the prefix it finds the same way.
      EXPECT_EQ(entry.localHeaderOffset, e.offset);
      EXPECT_EQ(bytes.substr(entry.localHeaderOffset, 4), "PK\x03\x04");
    }
  }

  testsupport::ScratchDir scratch_{"remote-zip"};
  fs::path build_;
};

TEST_F(RemoteZipTest, CentralDirectoryOfEachWriterReadsAsPythonReadsIt) {
  {
    SCOPED_TRACE("Info-ZIP");
    const std::string path = InfoZip("");
    ExpectMatchesPython(path, ReadText(path), 0);
  }
  {
    SCOPED_TRACE("Info-ZIP -fz");
    const std::string path = InfoZip("-fz");
    const std::string bytes = ReadText(path);
    ASSERT_NE(bytes.find("PK\x06\x06"), std::string::npos);
    // Its 32-bit sizes say "see zip64"; the parser takes them from the extra field.
    const std::string directory = bytes.substr(Lookup(bytes).place.offset);
    EXPECT_EQ(directory.substr(24, 4), "\xff\xff\xff\xff");
    EXPECT_TRUE(Lookup(bytes).place.zip64);
    ExpectMatchesPython(path, bytes, 0);
  }
  {
    SCOPED_TRACE("Python zipfile, zip64 entries");
    const fs::path archive = scratch_.Path() / "python.zip";
    ASSERT_EQ(Shell("cd '" + build_.string() +
                    "' && python3 -c 'import sys,zipfile\n"
                    "with zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_DEFLATED) as z:\n"
                    "  for n in [\"kolv.exe\", \"data/noise.bin\", \"data/small.txt\", \"data/empty.cfg\"]:\n"
                    "    with open(n, \"rb\") as f, z.open(n, \"w\", force_zip64=True) as o: o.write(f.read())' '" +
                    archive.string() + "'"),
              0);
    const std::string bytes = ReadText(archive);
    const DirectoryLookup lookup = Lookup(bytes);
    ASSERT_EQ(lookup.kind, DirectoryLookup::Kind::kFound);
    const auto entries = Entries(bytes, lookup.place);
    ASSERT_EQ(entries.size(), 4u);
    // zipfile puts the forced zip64 sizes in the local headers (which the ranges carry) only.
    EXPECT_EQ(bytes.substr(28, 2), std::string("\x14\x00", 2));
    ExpectMatchesPython(archive.string(), bytes, 0);
  }
}

TEST_F(RemoteZipTest, CommentAndPrefixAreFoundAndAShortTailAsksForMore) {
  const std::string comment(3000, 'c');
  WriteText(scratch_.Path() / "comment.txt", comment);
  const std::string path = InfoZip("-z < '" + (scratch_.Path() / "comment.txt").string() + "'");
  const std::string bytes = ReadText(path);
  ExpectMatchesPython(path, bytes, 0);

  // A tail that misses the end record's start asks for the search length, which finds it.
  const DirectoryLookup shortTail = FindCentralDirectory(Tail(bytes, 100), bytes.size());
  ASSERT_EQ(shortTail.kind, DirectoryLookup::Kind::kNeedTail);
  EXPECT_GT(shortTail.tailBytes, 100u);
  EXPECT_EQ(Lookup(bytes, 100).kind, DirectoryLookup::Kind::kFound);

  // A zip64 archive whose tail holds the end record only asks for the locator and record.
  const std::string zip64 = ReadText(InfoZip("-fz"));
  const DirectoryLookup endOnly = FindCentralDirectory(Tail(zip64, 22), zip64.size());
  ASSERT_EQ(endOnly.kind, DirectoryLookup::Kind::kNeedTail);
  EXPECT_GE(endOnly.tailBytes, 22u + 20 + 56);
  const DirectoryLookup found = Lookup(zip64, 22);
  ASSERT_EQ(found.kind, DirectoryLookup::Kind::kFound);
  EXPECT_TRUE(found.place.zip64);

  // A plain archive's end record alone is not enough either: a zip64 locator may precede it.
  const std::string plain = ReadText(InfoZip(""));
  EXPECT_EQ(FindCentralDirectory(Tail(plain, 22), plain.size()).kind, DirectoryLookup::Kind::kNeedTail);
  EXPECT_EQ(Lookup(plain, 22).place.prefix, 0u);

  // A zip64 archive whose end record holds the real values too: the directory still ends at the
  // zip64 record, not at the end record (else 76 bytes would be taken for a prefix).
  {
    std::string both = zip64;
    const DirectoryPlace place = found.place;
    const std::size_t end = both.size() - 22;
    ASSERT_EQ(both.substr(end, 4), "PK\x05\x06");
    for (int i = 0; i < 2; ++i) {
      both[end + 8 + i] = static_cast<char>((place.entries >> (8 * i)) & 0xff);
      both[end + 10 + i] = static_cast<char>((place.entries >> (8 * i)) & 0xff);
    }
    for (int i = 0; i < 4; ++i) {
      both[end + 12 + i] = static_cast<char>((place.size >> (8 * i)) & 0xff);
      both[end + 16 + i] = static_cast<char>((place.offset >> (8 * i)) & 0xff);
    }
    const DirectoryLookup lookup = Lookup(both, 22);
    ASSERT_EQ(lookup.kind, DirectoryLookup::Kind::kFound);
    EXPECT_EQ(lookup.place.prefix, 0u);
    EXPECT_EQ(lookup.place.offset, place.offset);
  }

  // Bytes put before an archive whose offsets do not count them (a self-extractor's stub).
  const std::string prefix(1000, 'x');
  for (const std::string& archive : {ReadText(InfoZip("")), zip64}) {
    const fs::path prefixed = scratch_.Path() / "prefixed.zip";
    WriteText(prefixed, prefix + archive);
    ExpectMatchesPython(prefixed.string(), prefix + archive, 1000);
  }
}

TEST_F(RemoteZipTest, RangesRunFromLocalHeaderToNextEntryAndJoinNeighbours) {
  const std::string bytes = ReadText(InfoZip(""));
  const DirectoryLookup lookup = Lookup(bytes);
  ASSERT_EQ(lookup.kind, DirectoryLookup::Kind::kFound);
  const auto entries = Entries(bytes, lookup.place);
  std::map<std::string, std::size_t> index;
  for (std::size_t i = 0; i < entries.size(); ++i) index[entries[i].name] = i;
  // zip writes entries in the order given: kolv.exe data/ data/noise.bin data/small.txt ...
  ASSERT_LT(entries[index["data/noise.bin"]].localHeaderOffset, entries[index["data/small.txt"]].localHeaderOffset);

  std::vector<ByteRange> ranges;
  // Two neighbours are one range, from the first's header to the entry after the second.
  const std::size_t small = index["data/small.txt"], zeros = index["data/zeros.bin"];
  ASSERT_TRUE(JoinEntryRanges(entries, {zeros, small, small}, lookup.place, ranges, 0));
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0].first, entries[small].localHeaderOffset);
  EXPECT_EQ(ranges[0].entries, (std::vector<std::size_t>{small, zeros}));
  std::uint64_t after = lookup.place.offset;
  for (const auto& entry : entries) {
    if (entry.localHeaderOffset > entries[zeros].localHeaderOffset) after = std::min(after, entry.localHeaderOffset);
  }
  EXPECT_EQ(ranges[0].last, after - 1);

  // Across the 300 KB of noise the two sides stay apart; a small gap is joined by default.
  const std::size_t exe = index["kolv.exe"], last = index["资源/数据.txt"];
  ASSERT_TRUE(JoinEntryRanges(entries, {exe, small}, lookup.place, ranges));
  EXPECT_EQ(ranges.size(), 2u);
  const std::size_t folder = index["data/"];
  ASSERT_TRUE(JoinEntryRanges(entries, {exe, index["data/noise.bin"]}, lookup.place, ranges, 0));
  EXPECT_EQ(ranges.size(), 2u);
  ASSERT_TRUE(JoinEntryRanges(entries, {exe, index["data/noise.bin"]}, lookup.place, ranges));
  ASSERT_EQ(ranges.size(), 1u) << "the folder entry between them is a gap of a few bytes";
  EXPECT_LT(entries[folder].localHeaderOffset, ranges[0].last);

  // The last entry ends where the central directory starts; every range starts at a header.
  ASSERT_TRUE(JoinEntryRanges(entries, {last, exe}, lookup.place, ranges));
  EXPECT_EQ(ranges.back().last, lookup.place.offset - 1);
  for (const auto& range : ranges) EXPECT_EQ(bytes.substr(range.first, 4), "PK\x03\x04");
  EXPECT_EQ(RangeBytes(ranges), ranges[0].last - ranges[0].first + 1 + ranges[1].last - ranges[1].first + 1);

  // Entries sharing a start, an index out of range, or a span too short for the data are refused.
  auto twins = entries;
  twins[small].localHeaderOffset = twins[zeros].localHeaderOffset;
  EXPECT_FALSE(JoinEntryRanges(twins, {small}, lookup.place, ranges));
  EXPECT_TRUE(ranges.empty());
  EXPECT_FALSE(JoinEntryRanges(entries, {entries.size()}, lookup.place, ranges));
  auto longer = entries;
  longer[small].compressedSize = entries[zeros].localHeaderOffset - entries[small].localHeaderOffset;
  EXPECT_FALSE(JoinEntryRanges(longer, {small}, lookup.place, ranges));
}

TEST_F(RemoteZipTest, DamagedRecordsAreRefusedAndNeverPointOutsideTheArchive) {
  const std::string plain = ReadText(InfoZip(""));
  const std::string zip64 = ReadText(InfoZip("-fz"));
  const auto placeOf = [](const std::string& bytes) { return Lookup(bytes).place; };

  // No end record at all, a tail longer than the archive, a directory that is cut.
  EXPECT_EQ(FindCentralDirectory(std::string(5000, 'x'), 5000).kind, DirectoryLookup::Kind::kMalformed);
  EXPECT_EQ(FindCentralDirectory(plain, plain.size() - 1).kind, DirectoryLookup::Kind::kMalformed);
  const DirectoryPlace place = placeOf(plain);
  std::vector<RemoteEntry> entries;
  EXPECT_FALSE(ParseCentralDirectory(std::string_view(plain).substr(place.offset, place.size - 1), place, entries));
  DirectoryPlace fewer = place;
  --fewer.entries;
  EXPECT_FALSE(ParseCentralDirectory(std::string_view(plain).substr(place.offset, place.size), fewer, entries));
  EXPECT_TRUE(entries.empty());

  // Every single-byte change of the end records and the directory: whatever is accepted stays
  // inside the archive, and each entry's data ends before the central directory.
  for (const std::string* archive : {&plain, &zip64}) {
    const DirectoryPlace good = placeOf(*archive);
    for (std::uint64_t at = good.offset; at < archive->size(); ++at) {
      for (const unsigned char value : {0x00, 0xff, 0x7f}) {
        std::string damaged = *archive;
        if (static_cast<unsigned char>(damaged[at]) == value) continue;
        damaged[at] = static_cast<char>(value);
        const DirectoryLookup lookup = FindCentralDirectory(Tail(damaged, kEndRecordSearchBytes), damaged.size());
        if (lookup.kind != DirectoryLookup::Kind::kFound) continue;
        ASSERT_LE(lookup.place.offset + lookup.place.size, damaged.size()) << at;
        ASSERT_GE(lookup.place.offset + lookup.place.size, lookup.place.offset) << at;
        if (!ParseCentralDirectory(std::string_view(damaged).substr(lookup.place.offset, lookup.place.size),
                                   lookup.place, entries)) {
          continue;
        }
        for (const auto& entry : entries) {
          ASSERT_LE(entry.localHeaderOffset + 30 + entry.compressedSize, lookup.place.offset) << at;
        }
        std::vector<std::size_t> all(entries.size());
        for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
        std::vector<ByteRange> ranges;
        if (JoinEntryRanges(entries, all, lookup.place, ranges)) {
          for (const auto& range : ranges) ASSERT_LT(range.last, lookup.place.offset) << at;
        }
      }
    }
  }
}

}  // namespace
