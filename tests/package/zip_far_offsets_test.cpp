// An archive whose last entry and central directory start past 4 GiB, written byte by byte
// with a hole before them (a sparse file: no disk is spent on it), read by the extraction on
// each platform. Written by hand because minizip's own writer seeks with the same 32-bit
// offsets on Windows that this test is there to catch in the reader.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "package/zip_util.h"
#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"

namespace {

constexpr std::uint64_t kFarOffset = (4ull << 30) + 4096;
constexpr std::uint32_t kNoValue32 = 0xffffffff;

void Put(std::string& out, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
}

struct StoredEntry {
  std::string name;
  std::string data;
  std::uint64_t offset = 0;
  std::uint32_t crc() const {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  }
};

std::string LocalHeader(const StoredEntry& entry) {
  std::string out;
  Put(out, 0x04034b50, 4);
  Put(out, 20, 2);      // needed to extract
  Put(out, 0, 2);       // flags
  Put(out, 0, 2);       // stored
  Put(out, 0, 2);       // time
  Put(out, 0x0021, 2);  // 1980-01-01
  Put(out, entry.crc(), 4);
  Put(out, entry.data.size(), 4);
  Put(out, entry.data.size(), 4);
  Put(out, entry.name.size(), 2);
  Put(out, 0, 2);
  return out + entry.name + entry.data;
}

// A central header; an offset past 4 GiB goes into a zip64 extra field.
std::string CentralHeader(const StoredEntry& entry) {
  const bool far = entry.offset >= kNoValue32;
  std::string out;
  Put(out, 0x02014b50, 4);
  Put(out, 45, 2);  // made by
  Put(out, 45, 2);  // needed
  Put(out, 0, 2);
  Put(out, 0, 2);
  Put(out, 0, 2);
  Put(out, 0x0021, 2);
  Put(out, entry.crc(), 4);
  Put(out, entry.data.size(), 4);
  Put(out, entry.data.size(), 4);
  Put(out, entry.name.size(), 2);
  Put(out, far ? 12 : 0, 2);
  Put(out, 0, 2);  // comment
  Put(out, 0, 2);  // disk
  Put(out, 0, 2);  // internal attributes
  Put(out, 0, 4);  // external attributes
  Put(out, far ? kNoValue32 : entry.offset, 4);
  out += entry.name;
  if (far) {
    Put(out, 0x0001, 2);
    Put(out, 8, 2);
    Put(out, entry.offset, 8);
  }
  return out;
}

std::string EndRecords(std::uint64_t entries, std::uint64_t directoryOffset, std::uint64_t directorySize) {
  std::string out;
  Put(out, 0x06064b50, 4);
  Put(out, 44, 8);
  Put(out, 45, 2);
  Put(out, 45, 2);
  Put(out, 0, 4);
  Put(out, 0, 4);
  Put(out, entries, 8);
  Put(out, entries, 8);
  Put(out, directorySize, 8);
  Put(out, directoryOffset, 8);
  Put(out, 0x07064b50, 4);
  Put(out, 0, 4);
  Put(out, directoryOffset + directorySize, 8);
  Put(out, 1, 4);
  Put(out, 0x06054b50, 4);
  Put(out, 0, 2);
  Put(out, 0, 2);
  Put(out, 0xffff, 2);
  Put(out, 0xffff, 2);
  Put(out, directorySize, 4);
  Put(out, kNoValue32, 4);
  Put(out, 0, 2);
  return out;
}

class FarOffsetTest : public UnzipSandbox {};

TEST_F(FarOffsetTest, EntryAndCentralDirectoryPast4GiBAreFoundAndRead) {
  StoredEntry near{"near.txt", "before the hole", 0};
  StoredEntry far{"data/far.txt", "past four gibibytes", kFarOffset};
  {
    std::ofstream out(archive(), std::ios::binary);
    out << LocalHeader(near);
    out.seekp(static_cast<std::streamoff>(far.offset));
    out << LocalHeader(far);
    const std::uint64_t directoryOffset = far.offset + LocalHeader(far).size();
    const std::string directory = CentralHeader(near) + CentralHeader(far);
    out << directory << EndRecords(2, directoryOffset, directory.size());
    ASSERT_TRUE(out.good());
  }
  ASSERT_GT(std::filesystem::file_size(archive()), kFarOffset);

  ASSERT_TRUE(Unzip()) << last().payload;
  EXPECT_EQ(Read("data/near.txt"), "before the hole");
  EXPECT_EQ(Read("data/data/far.txt"), "past four gibibytes");
  EXPECT_EQ(last(), (UnzipCall{"succ", "", 2, 2}));
}

}  // namespace
