// Entry names outside ASCII: how each writer's names are read, and what an extraction of real
// archives (Python's zipfile, Info-ZIP's zip, both run here) leaves on disk.
#include "package/entry_name.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/package/unzip_sandbox.h"
#include "tests/package/zip_builder.h"

namespace {

constexpr std::uint16_t kMadeOnDos = 20;
constexpr std::uint16_t kMadeOnUnix = (3u << 8) | 30u;

// 资源/数据.txt in GBK, and the same name in UTF-8.
const std::string kGbkName = "\xd7\xca\xd4\xb4/\xca\xfd\xbe\xdd.txt";
const std::string kUtf8Name = "资源/数据.txt";

std::string LittleEndian(std::uint32_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xff);
  return out;
}

// An Info-ZIP Unicode Path field for `stored` naming `unicode`, with the checksum given.
std::string UnicodePathField(const std::string& unicode, std::uint32_t checksum, char version = 1) {
  const std::string data = std::string(1, version) + LittleEndian(checksum, 4) + unicode;
  return LittleEndian(0x7075, 2) + LittleEndian(static_cast<std::uint32_t>(data.size()), 2) + data;
}

std::uint32_t Crc(const std::string& bytes) {
  return static_cast<std::uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// An extended-timestamp field, as Info-ZIP writes before the Unicode one.
const std::string kTimeField = LittleEndian(0x5455, 2) + LittleEndian(5, 2) + std::string("\x03\x00\x00\x00\x00", 5);

std::string Decode(const std::string& bytes, std::uint16_t flags, std::uint16_t madeBy = kMadeOnDos,
                   const std::string& extra = {}) {
  return DecodeEntryName(StoredName{bytes, flags, madeBy, extra});
}

TEST(EntryNameDecodingTest, FlaggedNamesAreTakenAsUtf8OnlyWhenWellFormed) {
  for (const std::string name : {"中文资料/说明文件.txt", "Français/éléphant.txt", "日本語/カタカナ.txt", "𠀀.dat"}) {
    EXPECT_EQ(Decode(name, kUtf8NameFlag), name);
  }
  // An overlong "/" (a lax decoder's path separator), a surrogate half, a value past U+10FFFF,
  // a sequence cut short at the end, a stray continuation byte, and GBK under the flag.
  const std::vector<std::string> bad = {
      "a\xc0\xaf"
      "b",
      "\xed\xa0\x80.txt",
      "\xf4\x90\x80\x80",
      "abc\xe4\xb8",
      "\x80x",
      kGbkName};
  for (const auto& name : bad) {
    EXPECT_EQ(Decode(name, kUtf8NameFlag), "") << ::testing::PrintToString(name);
  }
}

TEST(EntryNameDecodingTest, UnflaggedNamesAreGbkUnlessTheirMakerSaysOtherwise) {
  EXPECT_EQ(Decode(kGbkName, 0), kUtf8Name);
  EXPECT_EQ(Decode("plain/name.txt", 0), "plain/name.txt");
  // Made on Unix: UTF-8 when it is that (Info-ZIP on a UTF-8 system), GBK when it cannot be.
  EXPECT_EQ(Decode(kUtf8Name, 0, kMadeOnUnix), kUtf8Name);
  EXPECT_EQ(Decode(kGbkName, 0, kMadeOnUnix), kUtf8Name);
  // Made on Windows, UTF-8 bytes without the flag are read as the GBK they also are.
  EXPECT_NE(Decode(kUtf8Name, 0, kMadeOnDos), kUtf8Name);
}

TEST(EntryNameDecodingTest, UnicodePathFieldCountsOnlyForTheNameItWasWrittenFor) {
  const std::string unicode = "Français/été.txt";
  EXPECT_EQ(Decode(kGbkName, 0, kMadeOnDos, kTimeField + UnicodePathField(unicode, Crc(kGbkName))), unicode);
  // Written for another stored name (renamed since), or of a version this reader does not know.
  EXPECT_EQ(Decode(kGbkName, 0, kMadeOnDos, UnicodePathField(unicode, Crc(kGbkName) ^ 1)), kUtf8Name);
  EXPECT_EQ(Decode(kGbkName, 0, kMadeOnDos, UnicodePathField(unicode, Crc(kGbkName), 2)), kUtf8Name);
  // A field whose length runs past the extra data, and one whose name is not UTF-8.
  std::string cut = UnicodePathField(unicode, Crc(kGbkName));
  cut.resize(cut.size() - 3);
  EXPECT_EQ(Decode(kGbkName, 0, kMadeOnDos, cut), kUtf8Name);
  EXPECT_EQ(Decode(kGbkName, 0, kMadeOnDos, UnicodePathField("\xff\xfe", Crc(kGbkName))), kUtf8Name);
  // The flag wins over any field.
  EXPECT_EQ(Decode(kUtf8Name, kUtf8NameFlag, kMadeOnDos, UnicodePathField(unicode, Crc(kUtf8Name))), kUtf8Name);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Runs a shell command with a time limit; its standard output, or a test failure.
std::string RunCommand(const std::string& command) {
  static int calls = 0;
  const std::string output =
      ::testing::TempDir() + "entry-name-" + std::to_string(getpid()) + "-" + std::to_string(calls++) + ".txt";
  // Handed over in the environment, so the command needs no second level of quoting.
  setenv("LAUNCHER_TEST_COMMAND", command.c_str(), 1);
  const int status = std::system(("timeout 60 sh -c \"$LAUNCHER_TEST_COMMAND\" >'" + output + "'").c_str());
  EXPECT_EQ(status, 0) << command;
  std::string text;
  {
    std::ifstream in(output);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  std::filesystem::remove(output);
  return text;
}

std::string NamedArchives(const std::string& arguments) {
  return RunCommand("python3 '" LAUNCHER_NAMED_ARCHIVES "' " + arguments);
}

class ForeignNamesTest : public UnzipSandbox {
 protected:
  // Every extracted file below the destination, with its content (each holds its UTF-8 name).
  std::set<std::string> ExtractedFiles() const {
    std::set<std::string> files;
    for (const auto& path : Tree()) {
      if (path.rfind("data/", 0) == 0 && std::filesystem::is_regular_file(root() / path)) files.insert(path.substr(5));
    }
    return files;
  }
  void ExpectEachFileHoldsItsName(const std::set<std::string>& files) const {
    for (const auto& file : files) EXPECT_EQ(Read("data/" + file), file);
  }
  // The files of a source folder for Info-ZIP, each holding its own name.
  void WriteSources(const std::vector<std::string>& names) const {
    for (const auto& name : names) {
      std::filesystem::create_directories((root() / "src" / name).parent_path());
      WriteBytes(root() / "src" / name, name);
    }
  }
};

TEST_F(ForeignNamesTest, PythonZipfileNamesInstallUnderTheirUnicodeNamesAndGbkNamesConverted) {
  NamedArchives("write '" + archive().string() + "'");
  // The archive holds what it claims: flagged UTF-8 names and unflagged GBK ones.
  const auto described = Lines(NamedArchives("describe '" + archive().string() + "'"));
  ASSERT_THAT(described, ::testing::Contains(::testing::StartsWith("1 0 ")));
  ASSERT_THAT(described, ::testing::Contains(::testing::StartsWith("0 0 ")));

  ASSERT_TRUE(Unzip()) << last().payload;
  const auto expected = Lines(NamedArchives("expected"));
  EXPECT_EQ(ExtractedFiles(), std::set<std::string>(expected.begin(), expected.end()));
  ExpectEachFileHoldsItsName(ExtractedFiles());
}

TEST_F(ForeignNamesTest, InfoZipNamesFromAUtf8SystemAndFromAGbkOneBothInstallAsUnicode) {
  const std::vector<std::string> names = {"中文资料/说明文件.txt", "Français/éléphant à café.txt",
                                          "日本語/カタカナ.txt"};
  WriteSources(names);
  // A file named in GBK bytes, as a Chinese system of GBK names holds it, zipped in the C locale.
  WriteBytes(root() / "src" / kGbkName.substr(kGbkName.find('/') + 1), "gbk");
  RunCommand("cd '" + (root() / "src").string() + "' && LC_ALL=C.UTF-8 zip -q -r '" + archive().string() + "' .");
  const auto described = Lines(NamedArchives("describe '" + archive().string() + "'"));
  ASSERT_THAT(described, ::testing::Each(::testing::StartsWith("0 0 ")));  // neither flag nor field

  ASSERT_TRUE(Unzip()) << last().payload;
  std::set<std::string> expected(names.begin(), names.end());
  expected.insert("数据.txt");
  EXPECT_EQ(ExtractedFiles(), expected);
  EXPECT_EQ(Read("data/数据.txt"), "gbk");
  EXPECT_EQ(Read("data/日本語/カタカナ.txt"), "日本語/カタカナ.txt");
}

TEST_F(ForeignNamesTest, AFlaggedNameThatIsNotUtf8StopsTheRunBeforeAnythingIsWritten) {
  ZipBuilder zip(archive());
  zip.Add("\xd7\xca\xd4\xb4\xe4/x.txt", "bad");  // GBK bytes with a cut-off UTF-8 lead: flagged, not UTF-8
  zip.Close();
  EXPECT_FALSE(Unzip());
  EXPECT_EQ(last().status, "fail");
  EXPECT_THAT(last().payload, ::testing::StartsWith("name this system cannot hold: "));
  EXPECT_EQ(ExtractedFiles(), std::set<std::string>{});
}

}  // namespace
