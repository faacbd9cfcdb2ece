// The kernel and CryptoAPI half of the Windows backend: digests, files, clock and texts.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <wincrypt.h>
// windows.h maps ReplaceFile to the system's ReplaceFileA; the seam's function keeps its name.

#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "app/texts.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/md5.h"
#include "platform/text_encoding.h"
#include "platform/win32/wide_text.h"
#include "tests/support/scratch_dir.h"

namespace {

void WriteBytes(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// MD5 of a buffer in one CryptHashData call: the reference for the block-wise file digest.
std::string OneShotMd5(const std::string& bytes) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  std::string digest;
  if (CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
      CryptCreateHash(provider, CALG_MD5, 0, 0, &hash) &&
      CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()), 0)) {
    BYTE value[16];
    DWORD length = sizeof value;
    if (CryptGetHashParam(hash, HP_HASHVAL, value, &length, 0)) {
      char pair[3];
      for (DWORD i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", value[i]);
        digest += pair;
      }
    }
  }
  if (hash) CryptDestroyHash(hash);
  if (provider) CryptReleaseContext(provider, 0);
  return digest;
}

TEST(Win32Md5, MatchesTheStandardDigests) {
  testsupport::ScratchDir dir("win32-md5");
  WriteBytes(dir.File("empty"), "");
  WriteBytes(dir.File("abc"), "abc");
  WriteBytes(dir.File("million"), std::string(1000000, 'a'));
  EXPECT_EQ(platform::Md5OfFile(dir.File("empty")), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(platform::Md5OfFile(dir.File("abc")), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(platform::Md5OfFile(dir.File("million")), "7707d6ae4e027c70eea2a935c2296f21");
}

TEST(Win32Md5, BlockWiseDigestOfALargeFileEqualsTheWholeBufferDigest) {
  testsupport::ScratchDir dir("win32-md5");
  // Three blocks and a ragged tail, with bytes that differ from block to block.
  std::string bytes(3 * 1024 * 1024 + 12345, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
  WriteBytes(dir.File("large"), bytes);
  const std::string expected = OneShotMd5(bytes);
  ASSERT_EQ(expected.size(), 32u);
  EXPECT_EQ(platform::Md5OfFile(dir.File("large")), expected);
}

TEST(Win32Md5, MissingFileGivesNoDigestAndSaysWhy) {
  testsupport::ScratchDir dir("win32-md5");
  testing::internal::CaptureStdout();
  const std::string digest = platform::Md5OfFile(dir.File("absent"));
  std::fflush(stdout);
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(digest, "");
  EXPECT_EQ(printed, "CreateFile go wrong :2\n");  // ERROR_FILE_NOT_FOUND
}

TEST(Win32Files, SizesBeyondFourGigabytesAreReportedWhole) {
  testsupport::ScratchDir dir("win32-files");
  const std::string path = dir.File("big");
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  DWORD ignored = 0;
  DeviceIoControl(file, FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
  LARGE_INTEGER end{};
  end.QuadPart = 5LL * 1024 * 1024 * 1024 + 7;
  ASSERT_TRUE(SetFilePointerEx(file, end, nullptr, FILE_BEGIN));
  ASSERT_TRUE(SetEndOfFile(file));
  CloseHandle(file);
  std::uint64_t size = 0;
  ASSERT_TRUE(platform::FileSize(path, &size));
  EXPECT_EQ(size, 5ULL * 1024 * 1024 * 1024 + 7);
  EXPECT_FALSE(platform::FileSize(dir.File("absent"), &size));
}

TEST(Win32Files, DirectoriesAreMadeOneLevelAndListedWithTheirKind) {
  testsupport::ScratchDir dir("win32-files");
  const std::string folder = dir.File("folder");
  EXPECT_TRUE(platform::MakeDirectory(folder));
  EXPECT_FALSE(platform::MakeDirectory(folder));  // exists already
  EXPECT_FALSE(platform::MakeDirectory(dir.File("missing\\child")));
  EXPECT_TRUE(platform::IsDirectory(folder));
  ASSERT_TRUE(platform::MakeDirectory(folder + "\\sub"));
  WriteBytes(folder + "\\file.txt", "x");

  std::vector<platform::DirEntry> entries;
  ASSERT_TRUE(platform::ListDirectory(folder, &entries));
  ASSERT_EQ(entries.size(), 2u);
  for (const auto& entry : entries) EXPECT_EQ(entry.isDirectory, entry.name == "sub") << entry.name;

  std::vector<platform::DirEntry> none;
  EXPECT_FALSE(platform::ListDirectory(dir.File("absent"), &none));
  EXPECT_TRUE(none.empty());

  EXPECT_FALSE(platform::RemoveEmptyDirectory(folder));  // not empty
  EXPECT_TRUE(platform::RemoveFile(folder + "\\file.txt"));
  EXPECT_TRUE(platform::RemoveEmptyDirectory(folder + "\\sub"));
  EXPECT_TRUE(platform::RemoveEmptyDirectory(folder));
  EXPECT_FALSE(platform::PathExists(folder));
}

TEST(Win32Files, ReplaceFileSwapsInTheNewContentOverAnExistingFile) {
  testsupport::ScratchDir dir("win32-files");
  WriteBytes(dir.File("record"), "old");
  WriteBytes(dir.File("record.tmp"), "new content");
  ASSERT_TRUE(platform::SwapInFile(dir.File("record.tmp"), dir.File("record")));
  std::ifstream in(dir.File("record"), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new content");
  EXPECT_FALSE(platform::PathExists(dir.File("record.tmp")));
}

TEST(Win32Files, ModificationTimeAndCurrentDirectoryComeFromTheSystem) {
  testsupport::ScratchDir dir("win32-files");
  WriteBytes(dir.File("fresh"), "x");
  std::int64_t seconds = 0;
  ASSERT_TRUE(platform::ModificationTime(dir.File("fresh"), &seconds));
  EXPECT_LE(std::llabs(seconds - static_cast<std::int64_t>(std::time(nullptr))), 5);
  EXPECT_FALSE(platform::ModificationTime(dir.File("absent"), &seconds));

  char expected[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, expected);
  EXPECT_EQ(platform::CurrentDirectory(), expected);
}

TEST(Win32Clock, WallClockAndCounterAgreeWithTheSystem) {
  const auto before = static_cast<std::uint64_t>(std::time(nullptr)) * 1000;
  const std::uint64_t now = platform::NowMs();
  EXPECT_GE(now + 1000, before);
  EXPECT_LE(now, before + 2000);

  const std::int64_t frequency = platform::PerformanceFrequency();
  ASSERT_GT(frequency, 0);
  const std::int64_t start = platform::PerformanceCounter();
  platform::SleepMs(30);
  const double elapsed = static_cast<double>(platform::PerformanceCounter() - start) / static_cast<double>(frequency);
  EXPECT_GE(elapsed, 0.025);
  EXPECT_LT(elapsed, 2.0);
}

TEST(Win32Text, GbkIsConvertedExplicitlyFromCodePage936) {
  EXPECT_EQ(platform::GbkToUtf8(texts::kFontFamily), "\xe5\xae\x8b\xe4\xbd\x93");  // 宋体
  EXPECT_EQ(platform::win32::GbkToWide(texts::kFontFamily), L"\x5b8b\x4f53");
  EXPECT_EQ(platform::GbkToUtf8("0Kb/s"), "0Kb/s");
  // A lead byte without its second byte, and one followed by a byte that cannot end a character.
  EXPECT_EQ(platform::win32::GbkToWide("a\xb0"), L"a\xfffd");
  EXPECT_EQ(platform::win32::GbkToWide("\xb0 b"), L"\xfffd b");
  EXPECT_EQ(platform::win32::GbkToWide(""), L"");
  // Back to GBK for names shown in the boxes: explicit too, and what GBK lacks becomes "?".
  EXPECT_EQ(platform::Utf8ToGbk("资源/a.pak"), "\xd7\xca\xd4\xb4/a.pak");
  EXPECT_EQ(platform::Utf8ToGbk("한"), "?");
}

}  // namespace
