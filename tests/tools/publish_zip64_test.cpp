// The publisher's archives as other readers see them (Info-ZIP unzip, Python's zipfile): zip64
// fields only where a 32-bit field cannot hold the value, and builds it cannot pack refused
// before any archive is written.
#include <gtest/gtest.h>
#include <minizip/zip.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "package/zip_util.h"
#include "tests/support/file_text.h"
#include "tools/publish/publish_error.h"
#include "tools/publish/publisher.h"
#include "tools/publish/utf8_name.h"

namespace publish {
namespace {
namespace fs = std::filesystem;

constexpr std::uint64_t k4GiB = 4ull << 30;

struct CommandResult {
  int exitCode = -1;
  std::string output;
};

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  std::FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  char block[4096];
  for (std::size_t got; (got = std::fread(block, 1, sizeof block, pipe)) > 0;) result.output.append(block, got);
  const int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

std::string Quoted(const fs::path& path) { return "'" + path.string() + "'"; }

using testsupport::WriteText;

// A file of `size` zero bytes that takes no disk: one byte written at its end.
void WriteSparseZeros(const fs::path& file, std::uint64_t size) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary).close();
  fs::resize_file(file, size);
}

// What zip_layout.py found: per entry whether its local and central headers carry zip64 extras.
struct Layout {
  struct Entry {
    bool local64 = false;
    bool central64 = false;
    std::uint64_t size = 0;
  };
  std::map<std::string, Entry> entries;
  bool end64 = false;
  std::size_t count = 0;
  bool crcOk = false;
  std::string report;
};

Layout ReadLayout(const fs::path& archive, bool testCrc) {
  const CommandResult run = RunCommand(std::string("'") + LAUNCHER_PYTHON + "' '" + LAUNCHER_ZIP_LAYOUT + "' " +
                                       Quoted(archive) + (testCrc ? " --test" : ""));
  Layout layout;
  layout.report = run.output;
  std::istringstream lines(run.output);
  for (std::string line; std::getline(lines, line);) {
    char name[1024] = {};
    int local64 = 0, central64 = 0, end64 = 0;
    unsigned long long size = 0, offset = 0;
    std::size_t count = 0;
    if (std::sscanf(line.c_str(), "entry %1023s local64=%d central64=%d size=%llu offset=%llu", name, &local64,
                    &central64, &size, &offset) == 5) {
      layout.entries[name] = {local64 == 1, central64 == 1, size};
    } else if (std::sscanf(line.c_str(), "end64=%d entries=%zu", &end64, &count) == 2) {
      layout.end64 = end64 == 1;
      layout.count = count;
    } else if (line == "crc ok") {
      layout.crcOk = run.exitCode == 0;
    }
  }
  return layout;
}

class PublishArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("publish_zip64_" + std::to_string(getpid()) + "_" +
                                         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    build_ = root_ / "build";
    out_ = root_ / "out";
    fs::create_directories(build_);
    WriteText(build_ / "kolv.exe", "game");
  }
  void TearDown() override { fs::remove_all(root_); }

  PublishResult Run() {
    PublishOptions options;
    options.channelId = "MorvanePC1";
    options.version = "1.0.0";
    options.buildFolder = build_;
    options.outputFolder = out_;
    std::ostringstream log;
    return Publish(options, log);
  }

  fs::path Archive() const { return out_ / "MorvanePC1" / "res_1_0_0.zip"; }

  // Nothing of a refused run is left: no archive, no half-written scratch file.
  void ExpectNoArchiveWritten() {
    EXPECT_FALSE(fs::exists(Archive()));
    if (!fs::exists(out_ / "MorvanePC1")) return;
    for (const auto& entry : fs::directory_iterator(out_ / "MorvanePC1")) {
      EXPECT_EQ(entry.path().extension(), ".json") << entry.path();
    }
  }

  // Info-ZIP's verdict on every entry's data and CRC.
  static void ExpectUnzipTestPasses(const fs::path& archive) {
    const CommandResult run = RunCommand(std::string("'") + LAUNCHER_UNZIP + "' -tqq " + Quoted(archive));
    EXPECT_EQ(run.exitCode, 0) << run.output;
  }

  fs::path root_, build_, out_;
};

TEST(Utf8Name, AcceptsWellFormedTextAndRefusesEveryMalformedSequence) {
  EXPECT_TRUE(IsValidUtf8("assets/maps/first map.dat"));
  EXPECT_TRUE(IsValidUtf8("\xe5\x9c\xb0\xe5\x9b\xbe/\xe7\xac\xac\xe4\xb8\x80.pak"));  // 地图/第一.pak
  EXPECT_TRUE(IsValidUtf8("\xf0\x9f\x8e\xae.txt"));                                   // U+1F3AE
  EXPECT_TRUE(IsValidUtf8("\xf4\x8f\xbf\xbf"));                                       // U+10FFFF, the last
  EXPECT_FALSE(IsValidUtf8("\xc4\xe3\xba\xc3.txt"));                                  // "你好" in GBK
  EXPECT_FALSE(IsValidUtf8("caf\xe9"));                                               // Latin-1 é
  EXPECT_FALSE(IsValidUtf8("\x80start"));                                             // a continuation byte alone
  EXPECT_FALSE(IsValidUtf8("cut\xe5\x9c"));                                           // a sequence cut off at the end
  EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));                                              // "/" in an overlong form
  EXPECT_FALSE(IsValidUtf8("\xe0\x80\xaf"));                                          // the same in three bytes
  EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));                                          // a UTF-16 surrogate half
  EXPECT_FALSE(IsValidUtf8("\xf4\x90\x80\x80"));                                      // past U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xf8\x88\x80\x80\x80"));                                  // five-byte forms do not exist
  EXPECT_EQ(EscapedName("a\xff/b\n"), "a\\xff/b\\x0a");
}

TEST_F(PublishArchiveTest, NameThatIsNotUtf8IsRefusedNamingItBeforeAnyArchiveIsWritten) {
  WriteText(build_ / "assets" / "\xc4\xe3\xba\xc3.pak", "named in a legacy code page");
  try {
    Run();
    FAIL() << "packed a name that is not UTF-8";
  } catch (const PublishError& error) {
    EXPECT_NE(std::string(error.what()).find("assets/\\xc4\\xe3\\xba\\xc3.pak is not valid UTF-8"), std::string::npos)
        << error.what();
  }
  ExpectNoArchiveWritten();

  // A folder so named is refused the same way, before anything below it is looked at.
  fs::remove_all(build_ / "assets");
  WriteText(build_ / "caf\xe9" / "ok.txt", "inside");
  EXPECT_THROW(Run(), PublishError);
  ExpectNoArchiveWritten();
}

TEST_F(PublishArchiveTest, FileThePublisherCannotReadFailsTheToolWithItsNameAndNoArchive) {
  WriteText(build_ / "assets" / "locked.pak", "not for this user");
  fs::permissions(build_ / "assets" / "locked.pak", fs::perms::none);
  // Root reads any file whatever its mode; without the two capabilities that allow that, the
  // mode counts for it as for anyone.
  const std::string prefix = geteuid() == 0 ? "setpriv --bounding-set -dac_override,-dac_read_search " : "";
  const CommandResult run =
      RunCommand(prefix + "'" + LAUNCHER_PUBLISH_EXE + "' MorvanePC1 1.0.0 " + Quoted(build_) + " " + Quoted(out_));

  EXPECT_EQ(run.exitCode, 1) << run.output;
  EXPECT_NE(run.output.find("launcher-publish: cannot read assets/locked.pak: Permission denied"), std::string::npos)
      << run.output;
  ExpectNoArchiveWritten();
}

TEST_F(PublishArchiveTest, OrdinaryBuildCarriesNoZip64FieldAnywhere) {
  WriteText(build_ / "assets" / "pack.bin", std::string(300000, 'p'));
  fs::create_directories(build_ / "saves");
  Run();

  const Layout layout = ReadLayout(Archive(), true);
  ASSERT_EQ(layout.count, 4u) << layout.report;
  for (const auto& [name, entry] : layout.entries) {
    EXPECT_FALSE(entry.local64) << name;
    EXPECT_FALSE(entry.central64) << name;
  }
  EXPECT_FALSE(layout.end64);
  EXPECT_TRUE(layout.crcOk) << layout.report;
  ExpectUnzipTestPasses(Archive());
}

// Large: packs 4 GiB of zeros (a sparse file), about a minute on a busy machine.
TEST_F(PublishArchiveTest, LargeEntryOf4GiBPlusOneCarriesZip64SizesAndOnlyItDoes) {
  WriteSparseZeros(build_ / "huge.pak", k4GiB + 1);
  WriteText(build_ / "zz_after.txt", "after the big ones");
  Run();

  const Layout layout = ReadLayout(Archive(), true);
  ASSERT_EQ(layout.count, 3u) << layout.report;
  const auto& huge = layout.entries.at("huge.pak");
  EXPECT_EQ(huge.size, k4GiB + 1);
  EXPECT_TRUE(huge.local64);
  EXPECT_TRUE(huge.central64);
  for (const char* plain : {"kolv.exe", "zz_after.txt"}) {
    EXPECT_FALSE(layout.entries.at(plain).local64) << plain;
    EXPECT_FALSE(layout.entries.at(plain).central64) << plain;
  }
  EXPECT_FALSE(layout.end64) << "three entries and a small archive need no zip64 end records";
  EXPECT_TRUE(layout.crcOk) << layout.report;
  ExpectUnzipTestPasses(Archive());
}

// Large: 65,536 small files, about ten seconds.
TEST_F(PublishArchiveTest, LargeEntryCountPast16BitsGetsTheZip64EndRecordsAndPlainEntries) {
  constexpr int kFolders = 64;
  constexpr int kFilesPerFolder = 1024;  // with kolv.exe and the folders: 65,601 entries
  for (int folder = 0; folder < kFolders; ++folder) {
    const fs::path dir = build_ / ("d" + std::to_string(folder));
    fs::create_directories(dir);
    for (int file = 0; file < kFilesPerFolder; ++file) {
      std::ofstream(dir / std::to_string(file), std::ios::binary) << folder << "/" << file;
    }
  }
  const PublishResult result = Run();
  EXPECT_EQ(result.files, 1u + kFolders * kFilesPerFolder);

  const Layout layout = ReadLayout(Archive(), false);
  EXPECT_EQ(layout.count, 1u + kFolders + kFolders * kFilesPerFolder) << layout.report.substr(0, 2000);
  EXPECT_TRUE(layout.end64);
  std::size_t withZip64 = 0;
  for (const auto& [name, entry] : layout.entries) withZip64 += (entry.local64 || entry.central64) ? 1 : 0;
  EXPECT_EQ(withZip64, 0u);
  ExpectUnzipTestPasses(Archive());
}

// minizip's stdio file functions, remembering the stream they open so that a test can move the
// archive's end forward between two entries: the hole it leaves is a sparse file's, no entry
// refers to it, and every later header lands past it.
struct RememberedStream {
  open64_file_func open = nullptr;
  void* stream = nullptr;
};

void* OpenAndRemember(void* opaque, const void* name, int mode) {
  auto* remembered = static_cast<RememberedStream*>(opaque);
  remembered->stream = remembered->open(nullptr, name, mode);
  return remembered->stream;
}

void WriteEntry(zipFile zip, const std::string& name, const std::string& data) {
  zip_fileinfo info{};
  ASSERT_EQ(zipOpenNewFileInZip4_64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                                    Z_DEFAULT_COMPRESSION, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0,
                                    (3 << 8) | 20, 0, 0),
            ZIP_OK);
  ASSERT_EQ(zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())), ZIP_OK);
  ASSERT_EQ(zipCloseFileInZip(zip), ZIP_OK);
}

// The writing half launcher-publish packs with, for entries whose local headers start past
// 4 GiB: their central headers give the offset in a zip64 extra (and 0xFFFFFFFF in the 32-bit
// field), the entry before the limit keeps a plain header, the end gets the zip64 records, and
// Info-ZIP unzip, Python's zipfile and the launcher's extraction all read it.
TEST_F(PublishArchiveTest, WritingHalfGivesEntriesPast4GiBTheirOffsetInACentralZip64Extra) {
  std::mt19937 generator(13);
  std::string far(256 * 1024, '\0');
  for (auto& byte : far) byte = static_cast<char>(generator());
  fs::create_directories(out_);
  const fs::path archive = out_ / "far.zip";

  zlib_filefunc64_def functions{};
  fill_fopen64_filefunc(&functions);
  RememberedStream remembered{functions.zopen64_file, nullptr};
  functions.zopen64_file = OpenAndRemember;
  functions.opaque = &remembered;
  zipFile zip = zipOpen2_64(archive.c_str(), APPEND_STATUS_CREATE, nullptr, &functions);
  ASSERT_NE(zip, nullptr);
  WriteEntry(zip, "kolv.exe", "game");
  ASSERT_EQ(fseeko(static_cast<std::FILE*>(remembered.stream), static_cast<off_t>(k4GiB), SEEK_CUR), 0);
  WriteEntry(zip, "assets/far.pak", far);
  WriteEntry(zip, "zz_last.txt", "the archive's last entry");
  ASSERT_EQ(zipClose(zip, nullptr), ZIP_OK);
  ASSERT_GT(fs::file_size(archive), k4GiB);

  const Layout layout = ReadLayout(archive, true);
  ASSERT_EQ(layout.count, 3u) << layout.report;
  EXPECT_FALSE(layout.entries.at("kolv.exe").central64) << layout.report;
  for (const char* late : {"assets/far.pak", "zz_last.txt"}) {
    EXPECT_TRUE(layout.entries.at(late).central64) << late << "\n" << layout.report;
    EXPECT_FALSE(layout.entries.at(late).local64) << late << ": its sizes fit in 32 bits";
  }
  EXPECT_TRUE(layout.end64) << "the central directory starts past 4 GiB";
  EXPECT_TRUE(layout.crcOk) << layout.report;
  ExpectUnzipTestPasses(archive);

  const fs::path installed = root_ / "installed";
  ASSERT_TRUE(ZipUtil::UnzipAll(archive.string(), installed.string() + "/", nullptr));
  std::ifstream in(installed / "assets" / "far.pak", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), far);
  std::ifstream last(installed / "zz_last.txt", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(last), {}), "the archive's last entry");
}

}  // namespace
}  // namespace publish
