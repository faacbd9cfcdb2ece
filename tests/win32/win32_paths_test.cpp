// Names outside every ANSI code page and paths past 260 characters through the Win32 backend:
// each result is checked against what the wide system functions themselves report.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <string>
#include <vector>

#include "package/file_util.h"
#include "package/zip_util.h"
#include "platform/files.h"
#include "platform/md5.h"
#include "platform/process.h"
#include "platform/win32/wide_path.h"
#include "platform/win32/wide_text.h"
#include "tests/package/zip_builder.h"
#include "tests/support/scratch_dir.h"
#include "tests/win32/test_paths.h"

namespace {

using platform::win32::Utf8ToWide;
using platform::win32::WidePath;
using platform::win32::WideToUtf8;

// Chinese, accented Latin, Japanese, Korean and a character beyond the BMP: no ANSI code page
// holds them all, so a narrow call anywhere on the way would turn some into "?".
const std::string kForeign = "中文_café_カタカナ_한국어_😀";

// Texts joined by appending. (GCC 12 misreads chained operator+ at -O3 as overlapping copies.)
template <typename... Parts>
std::string Joined(const Parts&... parts) {
  std::string text;
  (text.append(parts), ...);
  return text;
}

// A scratch folder as UTF-8 (ScratchDir's narrow form is the ANSI one).
std::string Utf8Of(const testsupport::ScratchDir& dir) { return WideToUtf8(dir.Path().wstring()); }

// The wide system's own view: the names directly inside a folder.
std::vector<std::wstring> SystemListing(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data{};
  HANDLE search = FindFirstFileW((L"\\\\?\\" + platform::win32::FullPath(folder) + L"\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return names;
}

bool WriteText(const std::string& path, const std::string& text) {
  std::FILE* file = platform::OpenFileNoFollow(path, platform::WriteMode::Replace);
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

// A folder nested below `base` until its path passes `length` characters; each level is made
// by the backend. Empty when a level cannot be made.
std::string DeepFolder(const std::string& base, std::size_t length) {
  std::string path = base;
  for (int level = 0; Utf8ToWide(path).size() <= length && level < 40; ++level) {
    path += Joined("\\", std::to_string(level), "_", kForeign);
    if (!platform::MakeDirectory(path)) return {};
  }
  return path;
}

TEST(Win32Paths, ShortPathsPassUnchangedAndLongOnesTakeTheNormalisedLongForm) {
  EXPECT_EQ(WidePath("data\\" + kForeign), Utf8ToWide("data\\" + kForeign));
  EXPECT_EQ(WidePath(""), L"");
  const std::string deep = Joined("a/../", std::string(300, 'x'), "/./y");
  const std::wstring wide = WidePath(deep);
  ASSERT_EQ(wide.rfind(L"\\\\?\\", 0), 0u) << WideToUtf8(wide);
  // The system takes the long form literally, so it must be absolute and normalised already.
  EXPECT_EQ(wide, L"\\\\?\\" + platform::win32::FullPath(Utf8ToWide(std::string(300, 'x') + "\\y")));
  EXPECT_EQ(wide.find(L'/'), std::wstring::npos);
  EXPECT_EQ(wide.find(L"\\.."), std::wstring::npos);
  EXPECT_EQ(WidePath(WideToUtf8(wide)), wide);  // already long: as it is
}

TEST(Win32Paths, NamesOutsideTheCodePageSurviveEveryFileOperation) {
  testsupport::ScratchDir dir("win32-names");
  const std::string folder = Utf8Of(dir) + "\\" + kForeign;
  ASSERT_TRUE(platform::MakeDirectory(folder));
  EXPECT_TRUE(platform::IsDirectory(folder));
  const std::string file = Joined(folder, "\\", kForeign, ".txt");
  ASSERT_TRUE(WriteText(file, "abc"));
  EXPECT_EQ(SystemListing(dir.Path().wstring()), std::vector<std::wstring>{Utf8ToWide(kForeign)});
  EXPECT_EQ(SystemListing(Utf8ToWide(folder)), std::vector<std::wstring>{Utf8ToWide(kForeign + ".txt")});

  std::vector<platform::DirEntry> entries;
  ASSERT_TRUE(platform::ListDirectory(folder, &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, kForeign + ".txt");
  std::uint64_t size = 0;
  EXPECT_TRUE(platform::FileSize(file, &size));
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(platform::Md5OfFile(file), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(FileUtil::ReadAll(file), "abc");
  std::int64_t seconds = 0;
  EXPECT_TRUE(platform::ModificationTime(file, &seconds));

  ASSERT_TRUE(WriteText(file + ".tmp", "new"));
  EXPECT_TRUE(platform::SwapInFile(file + ".tmp", file));
  EXPECT_EQ(FileUtil::ReadAll(file), "new");
  EXPECT_TRUE(platform::RemovePathNoFollow(folder));
  EXPECT_TRUE(SystemListing(dir.Path().wstring()).empty());
}

TEST(Win32Paths, PathsPastTwoHundredSixtyCharactersWorkLikeShortOnes) {
  testsupport::ScratchDir dir("win32-long");
  const std::string deep = DeepFolder(Utf8Of(dir), 300);
  ASSERT_FALSE(deep.empty());
  const std::string file = Joined(deep, "\\", kForeign, ".bin");
  ASSERT_GT(Utf8ToWide(file).size(), 300u);
  ASSERT_TRUE(WriteText(file, "abc"));
  EXPECT_TRUE(platform::PathExists(file));
  EXPECT_EQ(FileUtil::Size(file), 3u);
  EXPECT_EQ(platform::Md5OfFile(file), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(FileUtil::ReadAll(file), "abc");
  EXPECT_EQ(FileUtil::ListFiles(deep), std::vector<std::string>{kForeign + ".bin"});
  EXPECT_EQ(SystemListing(Utf8ToWide(deep)), std::vector<std::wstring>{Utf8ToWide(kForeign + ".bin")});
  // The whole tree goes, deepest level first.
  const std::string top = Joined(Utf8Of(dir), "\\0_", kForeign);
  EXPECT_TRUE(platform::RemovePathNoFollow(top));
  EXPECT_FALSE(platform::PathExists(top));
}

TEST(Win32Paths, CurrentDirectoryAndStartedProgramKeepTheirNames) {
  testsupport::ScratchDir dir("win32-cwd");
  const std::string folder = Utf8Of(dir) + "\\" + kForeign;
  ASSERT_TRUE(platform::MakeDirectory(folder));
  std::vector<wchar_t> previous(GetCurrentDirectoryW(0, nullptr) + 1);
  GetCurrentDirectoryW(static_cast<DWORD>(previous.size()), previous.data());
  ASSERT_TRUE(SetCurrentDirectoryW(Utf8ToWide(folder).c_str()));
  const std::string current = platform::CurrentDirectory();
  SetCurrentDirectoryW(previous.data());
  EXPECT_EQ(Utf8ToWide(current), platform::win32::FullPath(Utf8ToWide(folder)));

  // The game's folder and an argument outside the code page reach it unchanged.
  const std::string game = win32test::HelperProgram("stand_in_game.exe");
  ASSERT_TRUE(platform::StartProcess(Joined("\"", game, "\" ", kForeign), folder));
  const std::string runs = folder + "\\stand_in_game_runs.txt";
  std::string run;
  for (int i = 0; i < 400 && run.find("end\n") == std::string::npos; ++i) {
    Sleep(50);
    run = FileUtil::ReadAll(runs);
  }
  EXPECT_NE(run.find(Joined("arg=", kForeign, "\n")), std::string::npos) << run;
  EXPECT_NE(run.find(Joined("cwd=", current, "\n")), std::string::npos) << run;
  EXPECT_EQ(platform::SplitCommandLine(Joined("x \"", kForeign, " 2\"")),
            (std::vector<std::string>{"x", Joined(kForeign, " 2")}));
}

TEST(Win32Paths, AnArchiveInAForeignFolderUnpacksIntoADeepOne) {
  testsupport::ScratchDir dir("win32-unzip");
  {
    ZipBuilder zip(dir.Path() / "package.zip");
    zip.Add(Joined("资源/", kForeign, ".txt"), "unicode");
    zip.Add("\xbe\xc9\xb0\xe6/\xca\xfd\xbe\xdd.txt", "gbk", EntryOptions::Unflagged());  // 旧版/数据.txt
    zip.Close();
  }
  const std::string folder = Utf8Of(dir) + "\\" + kForeign;
  ASSERT_TRUE(platform::MakeDirectory(folder));
  const std::string archive = folder + "\\package.zip";
  ASSERT_TRUE(platform::SwapInFile(Utf8Of(dir) + "\\package.zip", archive));
  const std::string destination = DeepFolder(folder, 250);
  ASSERT_FALSE(destination.empty());

  std::string outcome;
  EXPECT_TRUE(ZipUtil::UnzipAll(archive, destination,
                                [&](const std::string& status, const std::string& payload, long long, long long) {
                                  if (status != "unzip") outcome = status + " " + payload;
                                }))
      << outcome;
  EXPECT_EQ(FileUtil::ReadAll(Joined(destination, "\\资源\\", kForeign, ".txt")), "unicode");
  EXPECT_EQ(FileUtil::ReadAll(destination + "\\旧版\\数据.txt"), "gbk");
  EXPECT_EQ(SystemListing(Utf8ToWide(destination + "\\旧版")), std::vector<std::wstring>{L"\x6570\x636e.txt"});
}

}  // namespace
