// Archives in the zip64 format: more entries than the classic end record can count.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"

namespace {

class Zip64Test : public UnzipSandbox {};

void WriteManyEntries(const std::filesystem::path& path, long long folderEntries) {
  ZipBuilder zip(path);
  for (long long i = 0; i < folderEntries; ++i) zip.AddFolder("many/");
  zip.Add("many/last.txt", "the last entry");
  zip.Close();
}

TEST_F(Zip64Test, MoreThan65535EntriesWithOrWithoutTheZip64EndRecord) {
  constexpr long long kTotal = 70001;
  WriteManyEntries(archive(), kTotal - 1);
  // This writer caps the classic end record's count at 65,535 and adds the zip64 record; older
  // writers left the record out, which is what the archive is without it.
  const std::string bytes = ReadBytes(archive());
  EXPECT_EQ(bytes.substr(bytes.size() - 12, 2), std::string("\xff\xff", 2));
  ASSERT_TRUE(RemoveZip64EndRecords(archive()));
  EXPECT_EQ(ReadBytes(archive()).find(std::string("PK\x06\x06", 4)), std::string::npos);

  for (const bool withZip64Record : {false, true}) {
    SCOPED_TRACE(withZip64Record ? "zip64 end record" : "capped count");
    if (withZip64Record) AddZip64EndRecords(archive(), kTotal);
    EXPECT_TRUE(Unzip());
    ASSERT_EQ(static_cast<long long>(calls().size()), kTotal + 1);
    EXPECT_EQ(calls()[kTotal - 1], (UnzipCall{"unzip", "many/last.txt", kTotal, kTotal}));
    EXPECT_EQ(last(), (UnzipCall{"succ", "", kTotal, kTotal}));
    EXPECT_EQ(Read("data/many/last.txt"), "the last entry");
  }
}

TEST_F(Zip64Test, DamagedHeaderPastACappedCountFailsTheRun) {
  constexpr long long kTotal = 65540;
  WriteManyEntries(archive(), kTotal - 1);
  std::string bytes = ReadBytes(archive());
  const std::size_t name = bytes.rfind("many/last.txt");
  ASSERT_NE(name, std::string::npos);
  bytes[name - 46 + 3] = 9;  // the last central header's signature
  WriteBytes(archive(), bytes);

  EXPECT_FALSE(Unzip());
  EXPECT_EQ(last(), (UnzipCall{"fail", "cannont read next file: many/", kTotal - 2, kTotal}));
  EXPECT_FALSE(std::filesystem::exists(destination() / "many" / "last.txt"));
}

TEST_F(Zip64Test, EntriesWithZip64ExtraFieldsExtract) {
  ZipBuilder zip(archive());
  zip.Add("big/one.bin", std::string(100000, 'z'), EntryOptions().WithZip64());
  zip.Add("big/two.bin", "stored", EntryOptions::Stored().WithZip64());
  zip.Close();

  EXPECT_TRUE(Unzip());
  EXPECT_EQ(Read("data/big/one.bin"), std::string(100000, 'z'));
  EXPECT_EQ(Read("data/big/two.bin"), "stored");
  EXPECT_EQ(last(), (UnzipCall{"succ", "", 2, 2}));
}

}  // namespace
