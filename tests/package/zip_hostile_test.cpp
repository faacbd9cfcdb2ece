// Archives that try to write outside the destination, plant links, or carry damaged data.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "package/zip_util.h"
#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"

namespace {

using ::testing::HasSubstr;

constexpr std::uint32_t kSymlinkMode = 0120777;

class HostileNameTest : public UnzipSandbox, public ::testing::WithParamInterface<std::string> {};

// Each name, if it were followed, would land in root() beside the destination or above it.
TEST_P(HostileNameTest, NameLeadingOutsideFailsTheRunAndWritesNothingOutside) {
  std::string name = GetParam();
  if (name == "<absolute>") name = (root() / "outside.txt").string();
  ZipBuilder zip(archive());
  zip.Add("good.txt", "inside");
  zip.Add(name, "evil");
  zip.Add("later.txt", "never reached");
  zip.Close();

  testing::internal::CaptureStdout();
  EXPECT_FALSE(Unzip());
  EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("entry leads outside the destination: " + name));
  EXPECT_EQ(calls(),
            (std::vector<UnzipCall>{{"unzip", "good.txt", 1, 3}, {"fail", "extract file fail: " + name, 1, 3}}));
  EXPECT_EQ(Tree(), (std::set<std::string>{"package.zip", "data", "data/good.txt"}));
}

INSTANTIATE_TEST_SUITE_P(Names, HostileNameTest,
                         ::testing::Values("../outside.txt", "<absolute>", "/outside.txt", "\\outside.txt",
                                           "C:outside.txt", "c:\\outside.txt", "a\\..\\..\\outside.txt",
                                           "a/../../outside.txt", "..\\outside.txt", "a/../inside-but-refused.txt",
                                           "../escape/", "x/../../y/"));

class EntryNameTest : public UnzipSandbox {};

TEST_F(EntryNameTest, NameWithANulByteIsRefused) {
  // The file system would cut "okZ../../x" at the NUL and write a different file.
  ZipBuilder zip(archive());
  zip.Add("okZ../x", "evil");
  zip.Close();
  ASSERT_EQ(PatchBytes(archive(), "okZ../x", std::string("ok\0../x", 7)), 2);  // local and central header

  EXPECT_FALSE(Unzip());
  EXPECT_EQ(calls(), (std::vector<UnzipCall>{{"fail", "extract file fail: " + std::string("ok\0../x", 7), 0, 1}}));
  EXPECT_EQ(Tree(), (std::set<std::string>{"package.zip", "data"}));
}

TEST_F(EntryNameTest, NameLongerThanAShortBufferIsUsedWhole) {
  const std::string name = std::string(200, 'd') + "/" + std::string(200, 'e') + "/" + std::string(200, 'f');
  ZipBuilder zip(archive());
  zip.Add(name, "deep");
  zip.Close();
  EXPECT_TRUE(Unzip());
  EXPECT_EQ(Read("data/" + name), "deep");
  EXPECT_EQ(calls()[0].payload, name);
}

// Symbolic links and permission bits are POSIX matters; Windows extracts link entries as
// plain files too, but has no links to plant or modes to check.
#ifndef _WIN32
class LinkTest : public UnzipSandbox {};

TEST_F(LinkTest, SymbolicLinkEntryBecomesAPlainFileHoldingItsTarget) {
  ZipBuilder zip(archive());
  zip.Add("link", "../outside.txt", EntryOptions::Unix(kSymlinkMode));
  zip.Add("link/escape.txt", "must not pass through the link");
  zip.Close();

  EXPECT_FALSE(Unzip());
  struct stat status {};
  ASSERT_EQ(lstat((destination() / "link").c_str(), &status), 0);
  EXPECT_TRUE(S_ISREG(status.st_mode));
  EXPECT_EQ(
      status.st_mode & 07777, 0666 & ~[] {
        const mode_t mask = umask(0);
        umask(mask);
        return mask;
      }());
  EXPECT_EQ(Read("data/link"), "../outside.txt");
  EXPECT_EQ(last(), (UnzipCall{"fail", "create directory fail: " + destination().string() + "/link/", 1, 2}));
  EXPECT_EQ(Tree(), (std::set<std::string>{"package.zip", "data", "data/link"}));
}

TEST_F(LinkTest, ExistingLinkAtTheTargetIsReplacedNotFollowed) {
  WriteBytes(root() / "outside.txt", "keep me");
  std::filesystem::create_directories(destination());
  std::filesystem::create_symlink("../outside.txt", destination() / "target.txt");
  ZipBuilder zip(archive());
  zip.Add("target.txt", "written inside", EntryOptions::Unix(0100644));
  zip.Close();

  EXPECT_TRUE(Unzip());
  EXPECT_EQ(Read("outside.txt"), "keep me");
  EXPECT_FALSE(std::filesystem::is_symlink(destination() / "target.txt"));
  EXPECT_EQ(Read("data/target.txt"), "written inside");
}
#endif

// The payload names the damage on a second line: no Retry mends it.
class CorruptEntryTest : public UnzipSandbox {};

TEST_F(CorruptEntryTest, ChecksumMismatchInStoredDataFailsAndRemovesTheFile) {
  ZipBuilder zip(archive());
  zip.Add("good.txt", "fine");
  zip.Add("bad.bin", "STORED-PAYLOAD-0123456789", EntryOptions::Stored());
  zip.Close();
  ASSERT_EQ(PatchBytes(archive(), "STORED-PAYLOAD-0123456789", "STORED-PAYLOAD-0123456780"), 1);

  testing::internal::CaptureStdout();
  EXPECT_FALSE(Unzip());
  EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("crc mismatch in unzip file: bad.bin\n"));
  EXPECT_EQ(last(), (UnzipCall{"fail", "extract file fail: bad.bin\ncrc mismatch in unzip file: bad.bin", 1, 2}));
  EXPECT_FALSE(std::filesystem::exists(destination() / "bad.bin"));
}

TEST_F(CorruptEntryTest, DamagedCompressedStreamFails) {
  // Letters from a pseudo-random sequence: compressible, yet the stream stays long.
  std::string data;
  std::uint32_t seed = 12345;
  for (int i = 0; i < 200000; ++i) {
    seed = seed * 1103515245u + 12345u;
    data += static_cast<char>('a' + (seed >> 16) % 26);
  }
  ZipBuilder zip(archive());
  zip.Add("deflated.bin", data);
  zip.Close();
  // Overwrite a stretch of the compressed stream, which starts after the local header and name.
  std::string bytes = ReadBytes(archive());
  ASSERT_GT(bytes.size(), 20000u);
  for (std::size_t i = 10000; i < 10400; ++i) bytes[i] = static_cast<char>(0xff);
  WriteBytes(archive(), bytes);

  EXPECT_FALSE(Unzip());
  EXPECT_EQ(last(),
            (UnzipCall{"fail", "extract file fail: deflated.bin\ncrc mismatch in unzip file: deflated.bin", 0, 1}));
  EXPECT_FALSE(std::filesystem::exists(destination() / "deflated.bin"));
}

TEST_F(CorruptEntryTest, EntryShorterThanItsDeclaredSizeFails) {
  ZipBuilder zip(archive());
  zip.Add("short.bin", "SIZE-CHECK", EntryOptions::Stored());
  zip.Close();
  // Central header: the name starts 46 bytes after the signature; the uncompressed size sits at 24.
  std::string bytes = ReadBytes(archive());
  const std::size_t name = bytes.rfind("short.bin");
  ASSERT_NE(name, std::string::npos);
  bytes[name - 46 + 24] = 20;  // claims 20 bytes, the stored data holds 10
  WriteBytes(archive(), bytes);

  testing::internal::CaptureStdout();
  EXPECT_FALSE(Unzip());
  EXPECT_THAT(testing::internal::GetCapturedStdout(), HasSubstr("short.bin"));
  EXPECT_EQ(last(), (UnzipCall{"fail", "extract file fail: short.bin\nopen inzip file fail: short.bin", 0, 1}));
  EXPECT_FALSE(std::filesystem::exists(destination() / "short.bin"));
}

}  // namespace
