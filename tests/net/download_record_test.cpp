// The download record and RememberPackage, in a scratch working folder (this executable
// changes its working directory; the record path is relative to it).
#include "net/download_record.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "app/settings.h"
#include "net/remember_package.h"
#include "tests/net/transfer_recorder.h"
#include "tests/support/scratch_dir.h"

using testsupport::ScratchDir;

namespace {

class DownloadRecordTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(scratch_.Path());
    DownloadRecord::Load();  // the store is process-wide: start each test from this folder's file
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  static void WriteRecordFile(const std::string& bytes) {
    std::filesystem::create_directories(settings::dataFolder);
    WriteFileBytes(settings::downloadRecordPath, bytes);
    DownloadRecord::Load();
  }

  static std::map<std::string, std::string> ParseLines(const std::string& bytes) {
    std::map<std::string, std::string> entries;
    std::size_t start = 0;
    while (start <= bytes.size()) {
      const auto end = std::min(bytes.find("\r\n", start), bytes.size());
      const std::string line = bytes.substr(start, end - start);
      const auto equals = line.find('=');
      if (equals != std::string::npos) entries[line.substr(0, equals)] = line.substr(equals + 1);
      start = end + 2;
    }
    return entries;
  }

  ScratchDir scratch_{"net-record"};
  std::filesystem::path previous_;
};

TEST_F(DownloadRecordTest, MissingFileGivesAnEmptyStore) {
  EXPECT_EQ(DownloadRecord::Get("zipName"), "");
  EXPECT_FALSE(std::filesystem::exists(settings::downloadRecordPath));  // reading never writes
}

TEST_F(DownloadRecordTest, SetCreatesTheDataFolderAndWritesKeyValueLinesJoinedByCrLf) {
  ASSERT_FALSE(std::filesystem::exists(settings::dataFolder));
  DownloadRecord::Set("zipName", "Tessarine_MorvanePC1/pkg_1_2_3.zip");
  DownloadRecord::Set("zipMd5", "0123456789abcdef0123456789abcdef");

  std::string bytes = ReadFileBytes(settings::downloadRecordPath);
#ifdef _WIN32
  // Text mode on Windows stores each line break as CR CR LF, which reads back as CR LF.
  for (auto at = bytes.find("\r\r\n"); at != std::string::npos; at = bytes.find("\r\r\n", at)) bytes.erase(at, 1);
#endif
  EXPECT_EQ(bytes.size(), std::string("zipName=Tessarine_MorvanePC1/pkg_1_2_3.zip\r\n"
                                      "zipMd5=0123456789abcdef0123456789abcdef")
                              .size());
  EXPECT_NE(bytes.back(), '\n');  // no line end after the last line
  const auto entries = ParseLines(bytes);
  EXPECT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries.at("zipName"), "Tessarine_MorvanePC1/pkg_1_2_3.zip");
  EXPECT_EQ(entries.at("zipMd5"), "0123456789abcdef0123456789abcdef");
  // Written beside the record and renamed: nothing is left over.
  EXPECT_EQ(
      std::distance(std::filesystem::directory_iterator(settings::dataFolder), std::filesystem::directory_iterator()),
      1);
}

TEST_F(DownloadRecordTest, WhatSetWritesLoadReadsBack) {
  DownloadRecord::Set("zipName", "a/b c.zip");
  DownloadRecord::Set("zipMd5", "ffffffffffffffffffffffffffffffff");
  DownloadRecord::Set("zipName", "second.zip");  // overwrites
  DownloadRecord::Load();
  EXPECT_EQ(DownloadRecord::Get("zipName"), "second.zip");
  EXPECT_EQ(DownloadRecord::Get("zipMd5"), "ffffffffffffffffffffffffffffffff");
  EXPECT_EQ(ParseLines(ReadFileBytes(settings::downloadRecordPath)).size(), 2u);
}

TEST_F(DownloadRecordTest, ReadingIsTolerant) {
  WriteRecordFile(
      "zipName=first.zip\n"
      "zipName=second.zip\n"  // the first line of a key wins
      "withEquals=a=b\n"      // cut at the first "="
      "doubled==value\n"      // runs of "=" separate as one
      "empty=\n"              // key without value: skipped
      "empty=later\n"         //   ... so a later line can still set it
      "\n"
      "noSeparator\n"
      "last=value");
  EXPECT_EQ(DownloadRecord::Get("zipName"), "first.zip");
  EXPECT_EQ(DownloadRecord::Get("withEquals"), "a");
  EXPECT_EQ(DownloadRecord::Get("doubled"), "value");
  EXPECT_EQ(DownloadRecord::Get("empty"), "later");
  EXPECT_EQ(DownloadRecord::Get("noSeparator"), "");
  EXPECT_EQ(DownloadRecord::Get("last"), "value");
}

TEST_F(DownloadRecordTest, KeyWithNothingAfterTheSeparatorReadsBackEmpty) {
  WriteRecordFile("zipName=\r\nzipMd5=abc");
  EXPECT_EQ(DownloadRecord::Get("zipName"), "");
  EXPECT_EQ(DownloadRecord::Get("zipMd5"), "abc");
}

TEST_F(DownloadRecordTest, WindowsLineEndsOfEarlierLaunchersStillLoad) {
  for (const std::string lineEnd : {"\r\n", "\r\r\n"}) {
    SCOPED_TRACE(lineEnd.size());
    WriteRecordFile("zipMd5=0123456789abcdef0123456789abcdef" + lineEnd + "zipName=pkg.zip" + lineEnd);
    EXPECT_EQ(DownloadRecord::Get("zipMd5"), "0123456789abcdef0123456789abcdef");
    EXPECT_EQ(DownloadRecord::Get("zipName"), "pkg.zip");
  }
}

TEST_F(DownloadRecordTest, UnwritableRecordKeepsTheValueInTheStore) {
  // A folder where the record file should be: it cannot be replaced by a file.
  std::filesystem::create_directories(settings::downloadRecordPath);
  DownloadRecord::Load();
  EXPECT_FALSE(DownloadRecord::Set("zipName", "pkg.zip"));
  EXPECT_EQ(DownloadRecord::Get("zipName"), "pkg.zip");
  EXPECT_TRUE(std::filesystem::is_directory(settings::downloadRecordPath));
}

// A record holds a few short lines. A huge one (here 1 GiB, sparse, so the disk holds a few
// blocks) is damaged: it is not read, and the next write makes a small record again.
TEST_F(DownloadRecordTest, RecordLargerThanAFewKibibytesIsDamagedAndStartsAfresh) {
  WriteRecordFile("zipName=MorvanePC1/res_1_0_0.zip\r\nzipMd5=11111111111111111111111111111111\r\n");
  std::filesystem::resize_file(settings::downloadRecordPath, 1ull << 30);
  DownloadRecord::Load();
  EXPECT_EQ(DownloadRecord::Get("zipName"), "");
  EXPECT_TRUE(DownloadRecord::Set("zipName", "MorvanePC1/res_1_0_1.zip"));
  EXPECT_LE(std::filesystem::file_size(settings::downloadRecordPath), DownloadRecord::kMaxRecordBytes);
  DownloadRecord::Load();
  EXPECT_EQ(DownloadRecord::Get("zipName"), "MorvanePC1/res_1_0_1.zip");
  EXPECT_EQ(DownloadRecord::Get("zipMd5"), "");

  // Exactly the limit is still a record.
  const std::string line = "zipName=MorvanePC1/res_1_0_2.zip\r\npad=";
  WriteRecordFile(line + std::string(DownloadRecord::kMaxRecordBytes - line.size(), 'x'));
  EXPECT_EQ(DownloadRecord::Get("zipName"), "MorvanePC1/res_1_0_2.zip");
}

class RememberPackageTest : public DownloadRecordTest {
 protected:
  void SetUp() override {
    DownloadRecordTest::SetUp();
    std::filesystem::create_directories(settings::channelId);
    std::filesystem::create_directories(settings::dataFolder);
  }
  static std::string Archive(const std::string& name) { return settings::channelId + "/" + name; }
  static void MakeFile(const std::string& path) { WriteFileBytes(path, "partial archive"); }
};

TEST_F(RememberPackageTest, RecordsNameAndDigest) {
  RememberPackage(Archive("pkg_1_0_0.zip"), "11111111111111111111111111111111");
  DownloadRecord::Load();
  EXPECT_EQ(DownloadRecord::Get("zipName"), Archive("pkg_1_0_0.zip"));
  EXPECT_EQ(DownloadRecord::Get("zipMd5"), "11111111111111111111111111111111");
}

TEST_F(RememberPackageTest, SameNameAndDigestKeepThePartialArchive) {
  RememberPackage(Archive("pkg.zip"), "11111111111111111111111111111111");
  MakeFile(Archive("pkg.zip"));
  RememberPackage(Archive("pkg.zip"), "11111111111111111111111111111111");
  EXPECT_TRUE(std::filesystem::exists(Archive("pkg.zip")));
}

TEST_F(RememberPackageTest, NewDigestForTheSameNameDeletesThePartialArchive) {
  RememberPackage(Archive("pkg.zip"), "11111111111111111111111111111111");
  MakeFile(Archive("pkg.zip"));
  RememberPackage(Archive("pkg.zip"), "22222222222222222222222222222222");
  EXPECT_FALSE(std::filesystem::exists(Archive("pkg.zip")));
  EXPECT_EQ(DownloadRecord::Get("zipMd5"), "22222222222222222222222222222222");
}

TEST_F(RememberPackageTest, OtherArchiveDeletesTheOldOneAndLeavesTheNewOne) {
  RememberPackage(Archive("old.zip"), "11111111111111111111111111111111");
  MakeFile(Archive("old.zip"));
  MakeFile(Archive("new.zip"));
  RememberPackage(Archive("new.zip"), "11111111111111111111111111111111");
  EXPECT_FALSE(std::filesystem::exists(Archive("old.zip")));
  EXPECT_TRUE(std::filesystem::exists(Archive("new.zip")));
  EXPECT_EQ(DownloadRecord::Get("zipName"), Archive("new.zip"));
}

TEST_F(RememberPackageTest, OldArchiveAlreadyGoneIsNoProblem) {
  RememberPackage(Archive("old.zip"), "11111111111111111111111111111111");
  RememberPackage(Archive("new.zip"), "22222222222222222222222222222222");
  DownloadRecord::Load();
  EXPECT_EQ(DownloadRecord::Get("zipName"), Archive("new.zip"));
  EXPECT_EQ(DownloadRecord::Get("zipMd5"), "22222222222222222222222222222222");
}

// A record is only a hint: whatever file it names outside the download folder (an absolute
// path, a save in the data folder, the override document) keeps its bytes; the value is replaced.
TEST_F(RememberPackageTest, RecordNamingAFileOutsideTheDownloadFolderIsReplacedNotDeleted) {
  const ScratchDir elsewhere("net-record-elsewhere");
  for (const std::string& name : {elsewhere.File("player.doc"), settings::dataFolder + "/save.dat",
                                  std::string("local_config.json"), Archive("../local_config.json")}) {
    SCOPED_TRACE(name);
    WriteFileBytes(name, "not the launcher's " + name);
    DownloadRecord::Set("zipName", name);
    DownloadRecord::Set("zipMd5", "11111111111111111111111111111111");
    RememberPackage(Archive("new.zip"), "22222222222222222222222222222222");
    EXPECT_EQ(ReadFileBytes(name), "not the launcher's " + name);
    DownloadRecord::Load();
    EXPECT_EQ(DownloadRecord::Get("zipName"), Archive("new.zip"));
  }
}

// The package replaced by an install stays named until an install begins from a finished one:
// an unfinished install's pieces lie beside the last complete package's files, never replace it.
TEST_F(RememberPackageTest, ReplacedPackageIsTheLastCompleteOne) {
  const std::string md5 = "11111111111111111111111111111111";
  RememberPackage(Archive("res_1_0_0.zip"), md5);
  EXPECT_EQ(DownloadRecord::Get(DownloadRecord::kReplaced), "");  // a first install replaces nothing
  DownloadRecord::Set(DownloadRecord::kUnzipping, "");            // 1.0.0 installed

  RememberPackage(Archive("res_1_0_1.zip"), md5);
  EXPECT_EQ(DownloadRecord::Get(DownloadRecord::kUnzipping), Archive("res_1_0_1.zip"));
  EXPECT_EQ(DownloadRecord::Get(DownloadRecord::kReplaced), Archive("res_1_0_0.zip"));
  // Cut short, then a newer release: the data folder still holds 1.0.0's files, not 1.0.1's.
  RememberPackage(Archive("res_1_0_2.zip"), md5);
  NoteReplacedPackage();
  DownloadRecord::Load();
  EXPECT_EQ(DownloadRecord::Get(DownloadRecord::kReplaced), Archive("res_1_0_0.zip"));

  DownloadRecord::Set(DownloadRecord::kUnzipping, "");  // 1.0.2 installed
  NoteReplacedPackage();                                // an update by files begins its commit
  EXPECT_EQ(DownloadRecord::Get(DownloadRecord::kReplaced), Archive("res_1_0_2.zip"));
}

}  // namespace
