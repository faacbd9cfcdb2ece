// Extraction of well-formed archives: the callback rows, folders, overwriting, names.
#include "package/zip_util.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"

namespace {

using ::testing::HasSubstr;

class UnzipAllTest : public UnzipSandbox {};

TEST_F(UnzipAllTest, FolderEntryThenFileInsideReportsEachEntryThenSucceeds) {
  ZipBuilder zip(archive());
  zip.AddFolder("a/");
  zip.Add("a/b.txt", "bee");
  zip.Close();

  testing::internal::CaptureStdout();
  EXPECT_TRUE(Unzip());
  const std::string out = testing::internal::GetCapturedStdout();

  EXPECT_EQ(calls(), (std::vector<UnzipCall>{{"unzip", "a/", 1, 2}, {"unzip", "a/b.txt", 2, 2}, {"succ", "", 2, 2}}));
  EXPECT_EQ(Read("data/a/b.txt"), "bee");
  EXPECT_EQ(out, "start unzip\nend unzip\n");
}

TEST_F(UnzipAllTest, EmptyArchiveSucceedsWithZeroCounts) {
  ZipBuilder zip(archive());
  zip.Close();

  testing::internal::CaptureStdout();
  EXPECT_TRUE(Unzip());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "start unzip\nend unzip\n");
  EXPECT_EQ(calls(), (std::vector<UnzipCall>{{"succ", "", 0, 0}}));
  EXPECT_TRUE(std::filesystem::is_directory(destination()));
}

TEST_F(UnzipAllTest, FileTwoFoldersDeepCreatesBothFoldersAndStreamsLargeData) {
  // More than one copy block, compressible and not, so the block loop is exercised.
  std::string data;
  for (int i = 0; i < 700000; ++i) data += static_cast<char>((static_cast<unsigned>(i) * 7919u) % 251u);
  ZipBuilder zip(archive());
  zip.Add("x/y/big.bin", data);
  zip.Add("x/y/stored.bin", data, EntryOptions::Stored());
  zip.Close();

  EXPECT_TRUE(Unzip());
  EXPECT_TRUE(std::filesystem::is_directory(destination() / "x" / "y"));
  EXPECT_EQ(Read("data/x/y/big.bin"), data);
  EXPECT_EQ(Read("data/x/y/stored.bin"), data);
  EXPECT_EQ(last(), (UnzipCall{"succ", "", 2, 2}));
}

TEST_F(UnzipAllTest, DestinationWithOrWithoutFinalSeparatorGivesTheSameLayout) {
  ZipBuilder zip(archive());
  zip.Add("f.txt", "one");
  zip.Close();

  EXPECT_TRUE(UnzipInto(destination().string()));
  EXPECT_TRUE(UnzipInto((root() / "other").string() + "/"));
  EXPECT_EQ(Read("data/f.txt"), "one");
  EXPECT_EQ(Read("other/f.txt"), "one");
  EXPECT_EQ(Tree(), (std::set<std::string>{"package.zip", "data", "data/f.txt", "other", "other/f.txt"}));
}

TEST_F(UnzipAllTest, ExistingFilesAndFoldersAreOverwrittenOnASecondRun) {
  std::filesystem::create_directories(destination() / "keep");
  WriteBytes(destination() / "keep" / "f.txt", "an older and much longer content");
  WriteBytes(destination() / "untouched.txt", "stays");
  ZipBuilder zip(archive());
  zip.AddFolder("keep/");
  zip.Add("keep/f.txt", "new");
  zip.Close();

  EXPECT_TRUE(Unzip());
  EXPECT_TRUE(Unzip());
  EXPECT_EQ(Read("data/keep/f.txt"), "new");
  EXPECT_EQ(Read("data/untouched.txt"), "stays");
}

TEST_F(UnzipAllTest, ChineseAndBackslashNamesBecomeFoldersAndFiles) {
  ZipBuilder zip(archive());
  zip.Add("资源/数据.txt", "数据");
  zip.Add("win\\sub\\file.txt", "made on windows");
  zip.Add("a//double.txt", "empty component");
  zip.Close();

  EXPECT_TRUE(Unzip());
  EXPECT_EQ(Read("data/资源/数据.txt"), "数据");
  EXPECT_EQ(Read("data/win/sub/file.txt"), "made on windows");
  EXPECT_EQ(Read("data/a/double.txt"), "empty component");
  // The payload is the entry's own name.
  EXPECT_EQ(calls()[0], (UnzipCall{"unzip", "资源/数据.txt", 1, 3}));
  EXPECT_EQ(calls()[1], (UnzipCall{"unzip", "win\\sub\\file.txt", 2, 3}));
}

// True when some descriptor of this process refers to the file.
bool IsOpenInThisProcess(const std::filesystem::path& file) {
  for (const auto& descriptor : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ignored;
    if (std::filesystem::read_symlink(descriptor.path(), ignored) == file) return true;
  }
  return false;
}

TEST_F(UnzipAllTest, ArchiveIsClosedBeforeTheFinalCall) {
  // The launcher deletes the archive, or blocks in a dialog, as soon as it hears the outcome.
  for (const std::string second : {"fine.txt", "../refused.txt"}) {
    ZipBuilder zip(archive());
    zip.Add("first.txt", "one");
    zip.Add(second, "two");
    zip.Close();
    bool openDuringProgress = false;
    bool openDuringFinalCall = true;
    const auto callback = [&](const std::string& status, const std::string&, long long, long long) {
      if (status == "unzip") {
        openDuringProgress = IsOpenInThisProcess(archive());
      } else {
        openDuringFinalCall = IsOpenInThisProcess(archive());
      }
    };
    ZipUtil::UnzipAll(archive().string(), destination().string(), callback);
    EXPECT_TRUE(openDuringProgress) << second;  // the check itself sees an open archive
    EXPECT_FALSE(openDuringFinalCall) << second;
  }
}

TEST_F(UnzipAllTest, AnEmptyCallbackIsAllowed) {
  ZipBuilder zip(archive());
  zip.Add("f.txt", "one");
  zip.Close();
  EXPECT_TRUE(ZipUtil::UnzipAll(archive().string(), destination().string(), UnzipCallback{}));
  EXPECT_EQ(Read("data/f.txt"), "one");
}

class UnzipFailureTest : public UnzipSandbox {};

TEST_F(UnzipFailureTest, DestinationThatCannotBeCreated) {
  ZipBuilder zip(archive());
  zip.Add("f.txt", "one");
  zip.Close();
  const std::string missingParent = (root() / "no" / "such").string();
  EXPECT_FALSE(UnzipInto(missingParent));
  EXPECT_EQ(calls(), (std::vector<UnzipCall>{{"fail", "create directory fail: " + missingParent + "/", 0, 0}}));

  WriteBytes(root() / "plain", "a file where the folder should be");
  EXPECT_FALSE(UnzipInto((root() / "plain").string()));
  EXPECT_EQ(last(), (UnzipCall{"fail", "create directory fail: " + (root() / "plain").string() + "/", 0, 0}));
}

TEST_F(UnzipFailureTest, ArchiveMissingOrTruncatedCannotBeOpened) {
  testing::internal::CaptureStdout();
  EXPECT_FALSE(Unzip());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "open zip file fail: " + archive().string() + "\n");
  EXPECT_EQ(calls(), (std::vector<UnzipCall>{{"fail", "open zip file fail: " + archive().string(), 0, 0}}));

  ZipBuilder zip(archive());
  zip.Add("f.txt", std::string(5000, 'x'));
  zip.Close();
  const std::string bytes = ReadBytes(archive());
  WriteBytes(archive(), bytes.substr(0, bytes.size() / 2));
  EXPECT_FALSE(Unzip());
  EXPECT_EQ(calls(), (std::vector<UnzipCall>{{"fail", "open zip file fail: " + archive().string(), 0, 0}}));
}

TEST_F(UnzipFailureTest, FileInTheWayOfAFolderStopsTheRun) {
  ZipBuilder zip(archive());
  zip.Add("a", "a file");
  zip.Add("a/b.txt", "cannot go below a file");
  zip.Add("c.txt", "never reached");
  zip.Close();

  EXPECT_FALSE(Unzip());
  const std::string folder = destination().string() + "/a/";
  EXPECT_EQ(calls(),
            (std::vector<UnzipCall>{{"unzip", "a", 1, 3}, {"fail", "create directory fail: " + folder, 1, 3}}));
  EXPECT_FALSE(std::filesystem::exists(destination() / "c.txt"));
}

TEST_F(UnzipFailureTest, FolderOfTheSamePackageInTheWayOfAFileFailsThatEntry) {
  ZipBuilder zip(archive());
  zip.Add("f.txt/inner.txt", "a folder of this package");
  zip.Add("f.txt", "cannot replace a folder the package itself holds");
  zip.Close();

  testing::internal::CaptureStdout();
  EXPECT_FALSE(Unzip());
  EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("open unzip file fail: f.txt\n"));
  EXPECT_EQ(last(), (UnzipCall{"fail", "extract file fail: f.txt", 1, 2}));
  EXPECT_EQ(Read("data/f.txt/inner.txt"), "a folder of this package");
}

TEST_F(UnzipFailureTest, UnreadableEntryHeader) {
  ZipBuilder zip(archive());
  zip.Add("f.txt", "one");
  zip.Close();
  // Spoil the signature of the entry's header in the central directory.
  ASSERT_EQ(PatchBytes(archive(), std::string("PK\x01\x02", 4), std::string("PK\x01\x09", 4)), 1);

  testing::internal::CaptureStdout();
  EXPECT_FALSE(Unzip());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "start unzip\nread entry info fail\n");
  EXPECT_EQ(calls(), (std::vector<UnzipCall>{{"fail", "read entry info fail", 0, 1}}));
}

TEST_F(UnzipFailureTest, CentralDirectoryClaimingMoreEntriesThanItHolds) {
  ZipBuilder zip(archive());
  zip.Add("f.txt", "one");
  zip.Close();
  // End record: signature, two disk numbers, then the entry counts of this disk and in all.
  const std::string end = std::string("PK\x05\x06", 4) + std::string(4, '\0');
  ASSERT_EQ(PatchBytes(archive(), end + std::string("\x01\x00\x01\x00", 4), end + std::string("\x02\x00\x02\x00", 4)),
            1);

  testing::internal::CaptureStdout();
  EXPECT_FALSE(Unzip());
  EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("cannont read next file: f.txt\n"));
  EXPECT_EQ(calls(),
            (std::vector<UnzipCall>{{"unzip", "f.txt", 1, 2}, {"fail", "cannont read next file: f.txt", 0, 2}}));
  EXPECT_EQ(Read("data/f.txt"), "one");
}

TEST_F(UnzipFailureTest, ExtractCurrentExplainsAnOutputThatCannotBeOpened) {
  ZipBuilder zip(archive());
  zip.Add("f.txt", "one");
  zip.Close();
  unzFile file = unzOpen64(archive().string().c_str());
  ASSERT_NE(file, nullptr);
  std::string error;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ZipUtil::ExtractCurrent(file, "f.txt", (root() / "missing" / "f.txt").string(), error));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "open unzip file fail: f.txt\n");
  EXPECT_EQ(error, "open unzip file fail: f.txt");
  EXPECT_TRUE(ZipUtil::ExtractCurrent(file, "f.txt", (root() / "f.txt").string(), error));
  EXPECT_EQ(Read("f.txt"), "one");
  unzClose(file);
}

}  // namespace
