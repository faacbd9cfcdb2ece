#include "package/file_util.h"

#include <gtest/gtest.h>
#include <unistd.h>
#ifdef _WIN32
#include <io.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "app/settings.h"
#include "platform/files.h"

namespace fs = std::filesystem;

namespace {

class ScratchFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("file-util-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(root_);
  }
  std::string Path(const std::string& name) const { return (root_ / name).string(); }
  void Write(const std::string& name, const std::string& bytes) const {
    fs::create_directories((root_ / name).parent_path());
    std::ofstream(root_ / name, std::ios::binary) << bytes;
  }
  // The digest the system's md5sum computes for the file; empty where there is no md5sum
  // (the Windows build checks its block-wise digest against CryptoAPI's one-shot digest).
  std::string ReferenceMd5(const std::string& name) const {
#ifdef _WIN32
    static_cast<void>(name);
    return {};
#else
    std::string command = "md5sum '" + Path(name) + "'";
    std::FILE* pipe = popen(command.c_str(), "r");
    char digest[33] = {};
    if (pipe == nullptr || std::fread(digest, 1, 32, pipe) != 32) digest[0] = '\0';
    if (pipe != nullptr) pclose(pipe);
    return digest;
#endif
  }
  fs::path root_;
};

// The separator this system's paths use; the other system's one is an ordinary character.
const std::string kSep(1, platform::kPathSeparator);
const std::string kOther = platform::kPathSeparator == '/' ? "\\" : "/";

TEST(JoinPath, PutsExactlyOneSeparatorAtTheJoint) {
  EXPECT_EQ(FileUtil::JoinPath("a", "b"), "a" + kSep + "b");
  EXPECT_EQ(FileUtil::JoinPath("a" + kSep, kSep + "b"), "a" + kSep + "b");
  EXPECT_EQ(FileUtil::JoinPath("a" + kSep, "b"), "a" + kSep + "b");
  EXPECT_EQ(FileUtil::JoinPath("a", kSep + "b"), "a" + kSep + "b");
  EXPECT_EQ(FileUtil::JoinPath("", "b"), "b");
  EXPECT_EQ(FileUtil::JoinPath("a", ""), "a");
  EXPECT_EQ(FileUtil::JoinPath("a" + kOther, "b"), "a" + kOther + kSep + "b");
}

TEST(Split, DropsEmptyPiecesAndCutsAtTheWholeDelimiter) {
  EXPECT_EQ(StringUtil::Split("one\n\ntwo", "\n"), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(StringUtil::Split("key==value", "="), (std::vector<std::string>{"key", "value"}));
  EXPECT_EQ(StringUtil::Split("zipName=a=b\r", "="), (std::vector<std::string>{"zipName", "a", "b\r"}));
  EXPECT_TRUE(StringUtil::Split("", "=").empty());
  EXPECT_TRUE(StringUtil::Split("===", "=").empty());
  EXPECT_EQ(StringUtil::Split("a\r\nb\r\n", "\r\n"), (std::vector<std::string>{"a", "b"}));
}

TEST_F(ScratchFolder, WalkVisitsPostOrderWithSubfoldersBeforeFiles) {
  Write("f", "1");
  Write("s/g", "2");
  Write("s/t/h", "3");
  std::vector<std::string> visits;
  FileUtil::Walk(root_.string(), "", [&](const std::string& kind, const std::string& relative, const std::string&) {
    visits.push_back(kind + ":" + relative);
  });
  EXPECT_EQ(visits, (std::vector<std::string>{"file:s" + kSep + "t" + kSep + "h", "dir:s" + kSep + "t",
                                              "file:s" + kSep + "g", "dir:s", "file:f"}));
  visits.clear();
  FileUtil::Walk(Path("missing"), "",
                 [&](const std::string&, const std::string& r, const std::string&) { visits.push_back(r); });
  EXPECT_TRUE(visits.empty());
}

TEST_F(ScratchFolder, ListingsSeparateFilesFromFolders) {
  Write("a.txt", "1");
  Write("sub/b.txt", "2");
  EXPECT_EQ(FileUtil::ListFiles(root_.string()), (std::vector<std::string>{"a.txt"}));
  EXPECT_EQ(FileUtil::ListDirs(root_.string()), (std::vector<std::string>{"sub"}));
  EXPECT_TRUE(FileUtil::ListFiles(Path("nowhere")).empty());
}

TEST_F(ScratchFolder, CreateDirMakesOneLevelAndRefusesExistingOnes) {
  EXPECT_TRUE(FileUtil::CreateDir(Path("one")));
  ::testing::internal::CaptureStdout();
  EXPECT_FALSE(FileUtil::CreateDir(Path("one")));
  EXPECT_FALSE(FileUtil::CreateDir(Path("x/y/z")));
  const std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(output.find("create dir fail:  [" + Path("one") + "]\n"), std::string::npos);
}

TEST_F(ScratchFolder, Md5EqualsMd5sumForEmptySmallAndMultiBlockFiles) {
  Write("empty", "");
  Write("hello", "hello");
  std::string big(3 * 256 * 1024 + 17, '\0');
  std::mt19937 random(42);
  for (auto& c : big) c = static_cast<char>(random());
  Write("big", big);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(FileUtil::Md5(Path("empty")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(FileUtil::Md5(Path("hello")), "5d41402abc4b2a76b9719d911017c592");
  const std::string reference = ReferenceMd5("big");
  if (!reference.empty()) {
    EXPECT_EQ(FileUtil::Md5(Path("big")), reference);
  } else {
    // Without md5sum (a Windows test run), the digest of the same bytes computed twice must agree.
    EXPECT_EQ(FileUtil::Md5(Path("big")).size(), 32u);
  }
  EXPECT_EQ(FileUtil::Md5(Path("missing")), "");
  ::testing::internal::GetCapturedStdout();
}

TEST_F(ScratchFolder, SizeIsSixtyFourBitAndZeroWhenUnreadable) {
  // A sparse file past 4 GiB: the size must not be cut to 32 bits.
  const std::string path = Path("sparse");
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
#ifdef _WIN32
    ASSERT_EQ(_chsize_s(fileno(file), (5ll << 30) + 3), 0);
#else
    ASSERT_EQ(ftruncate(fileno(file), (5ll << 30) + 3), 0);
#endif
    std::fclose(file);
  }
  EXPECT_EQ(FileUtil::Size(path), (5ull << 30) + 3);
  EXPECT_EQ(FileUtil::Size(Path("missing")), 0u);
}

TEST_F(ScratchFolder, ReadAllAndWriteAllRoundTripText) {
  FileUtil::WriteAll(Path("t.txt"), "a=b\r\nc=d");
  EXPECT_EQ(FileUtil::ReadAll(Path("t.txt")), "a=b\r\nc=d");
  EXPECT_EQ(FileUtil::ReadAll(Path("missing")), "");
  FileUtil::WriteAll(Path("no/such/folder/t.txt"), "x");  // skipped silently
  EXPECT_FALSE(fs::exists(Path("no")));
}

TEST_F(ScratchFolder, AtomicWriteReplacesWholeAndLeavesNoTemporary) {
  FileUtil::WriteAll(Path("record"), "old");
  ASSERT_TRUE(FileUtil::WriteAllAtomically(Path("record"), "new content"));
  EXPECT_EQ(FileUtil::ReadAll(Path("record")), "new content");
  EXPECT_FALSE(fs::exists(Path("record.tmp")));
  EXPECT_FALSE(FileUtil::WriteAllAtomically(Path("missing/record"), "x"));
}

TEST_F(ScratchFolder, DeleteTreeEmptiesTheDownloadFolderButKeepsIt) {
  const fs::path original = fs::current_path();
  fs::current_path(root_);
  Write(settings::channelId + "/a.zip", "1");
  Write(settings::channelId + "/deep/er/b", "2");
  Write("keep.txt", "3");
  FileUtil::DeleteTree();
  EXPECT_TRUE(fs::is_directory(settings::channelId));
  EXPECT_TRUE(fs::is_empty(settings::channelId));
  EXPECT_TRUE(fs::exists("keep.txt"));
  fs::remove(settings::channelId);
  ::testing::internal::CaptureStdout();
  FileUtil::DeleteTree();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "attempt to delete dir not exsits!!!\n" + settings::channelId + "\n");
  fs::current_path(original);
}

// Links into a folder outside the tree, and a link to a file outside it: removing the tree
// removes the links themselves and leaves what they point to byte for byte.
TEST_F(ScratchFolder, RemovePathNoFollowRemovesLinksButNeverWhatTheyPointTo) {
  Write("outside/keep/deep.txt", "deep");
  Write("outside/single.txt", "single");
  Write("tree/own/file.bin", "own");
  Write("tree/top.txt", "top");
  std::error_code linkError;
  fs::create_directory_symlink(root_ / "outside" / "keep", root_ / "tree" / "own" / "linked-folder", linkError);
  if (!linkError) fs::create_symlink(root_ / "outside" / "single.txt", root_ / "tree" / "linked-file", linkError);
  if (!linkError) fs::create_directory_symlink(root_ / "outside", root_ / "folder-link", linkError);
  if (linkError) GTEST_SKIP() << "this system cannot make symbolic links here: " << linkError.message();

  // A link given as the path itself is removed as a link.
  EXPECT_TRUE(platform::RemovePathNoFollow(Path("folder-link")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "folder-link")));
  EXPECT_TRUE(platform::RemovePathNoFollow(Path("tree")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(root_ / "tree")));
  EXPECT_EQ(FileUtil::ReadAll(Path("outside/keep/deep.txt")), "deep");
  EXPECT_EQ(FileUtil::ReadAll(Path("outside/single.txt")), "single");
  // Nothing there is success too; a file is removed as such.
  EXPECT_TRUE(platform::RemovePathNoFollow(Path("tree")));
  EXPECT_TRUE(platform::RemovePathNoFollow(Path("outside/single.txt")));
  EXPECT_FALSE(fs::exists(Path("outside/single.txt")));
}

TEST(NowMs, IsTheWallClockInMilliseconds) {
  const auto expected =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
          .count();
  EXPECT_NEAR(static_cast<double>(NowMs()), static_cast<double>(expected), 1000.0);
}

}  // namespace
