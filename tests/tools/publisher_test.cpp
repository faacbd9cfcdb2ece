// Publishing a game build: the archive and documents a launcher will ask for, and the refusals
// that keep a published version intact.
#include "tools/publish/publisher.h"

#include <gtest/gtest.h>
#include <minizip/unzip.h>
#include <rapidjson/document.h>
#include <sodium.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "tests/support/file_text.h"
#include "tools/publish/md5_digest.h"
#include "tools/publish/publish_error.h"
#include "update/file_manifest.h"

namespace publish {
namespace {
namespace fs = std::filesystem;

struct ZipEntry {
  std::string content;
  std::uint32_t crc32 = 0;
  bool crcHolds = false;  // the unzip half read the whole entry and found its CRC-32 right
  int hostSystem = -1;
  std::uint32_t unixMode = 0;
};

// Every entry of the archive by name, read with the unzip half the launcher uses.
std::map<std::string, ZipEntry> ReadArchive(const fs::path& archive) {
  std::map<std::string, ZipEntry> entries;
  unzFile zip = unzOpen64(archive.c_str());
  if (zip == nullptr) return entries;
  for (int status = unzGoToFirstFile(zip); status == UNZ_OK; status = unzGoToNextFile(zip)) {
    unz_file_info64 info{};
    char name[512] = {};
    unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
    ZipEntry entry;
    entry.hostSystem = static_cast<int>(info.version >> 8);
    entry.unixMode = static_cast<std::uint32_t>(info.external_fa >> 16);
    entry.crc32 = static_cast<std::uint32_t>(info.crc);
    if (unzOpenCurrentFile(zip) == UNZ_OK) {
      char block[4096];
      for (int got; (got = unzReadCurrentFile(zip, block, sizeof block)) > 0;) entry.content.append(block, got);
      entry.crcHolds = unzCloseCurrentFile(zip) == UNZ_OK;
    }
    entries[name] = entry;
  }
  unzClose(zip);
  return entries;
}

using testsupport::ReadText;
using testsupport::WriteText;

rapidjson::Document ParseJson(const std::string& text) {
  rapidjson::Document document;
  document.Parse(text.c_str());
  return document;
}

std::vector<std::string> Strings(const rapidjson::Value& array) {
  std::vector<std::string> out;
  for (const auto& v : array.GetArray()) out.emplace_back(v.GetString());
  return out;
}

class PublisherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("publisher_test_" + std::to_string(getpid()) + "_" +
                                         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    build_ = root_ / "build";
    out_ = root_ / "out";
    fs::create_directories(build_);
    WriteText(build_ / "kolv.exe", "#!/bin/sh\necho game\n");
    fs::permissions(build_ / "kolv.exe", fs::perms(0755));
    WriteText(build_ / "assets" / "maps" / "first map.dat", std::string(200000, 'm'));
    WriteText(build_ / "assets" / "quote\"and\\slash.txt", "odd name");
    fs::create_directories(build_ / "saves");
  }
  void TearDown() override { fs::remove_all(root_); }

  PublishOptions Options(const std::string& version) {
    PublishOptions options;
    options.channelId = "MorvanePC1";
    options.version = version;
    options.buildFolder = build_;
    options.outputFolder = out_;
    return options;
  }

  PublishResult Run(const PublishOptions& options) {
    std::ostringstream log;
    return Publish(options, log);
  }

  fs::path root_, build_, out_;
};

TEST_F(PublisherTest, WritesTheLayoutTheLauncherRequests) {
  const PublishResult result = Run(Options("1.2.3"));

  EXPECT_EQ(result.zipName, "MorvanePC1/res_1_2_3.zip");
  const fs::path archive = out_ / "MorvanePC1" / "res_1_2_3.zip";
  ASSERT_TRUE(fs::exists(archive));
  EXPECT_EQ(result.zipBytes, fs::file_size(archive));
  EXPECT_EQ(result.zipMd5, Md5OfFile(archive));
  EXPECT_EQ(result.files, 3u);
  EXPECT_EQ(result.folders, 3u);

  const auto info = ParseJson(ReadText(out_ / "MorvanePC1" / "fileInfo_1_2_3.json"));
  ASSERT_TRUE(info.IsObject());
  EXPECT_STREQ(info["zipName"].GetString(), "MorvanePC1/res_1_2_3.zip");
  EXPECT_STREQ(info["zipMd5"].GetString(), result.zipMd5.c_str());
  ASSERT_TRUE(info["zipBytes"].IsInt64());
  EXPECT_EQ(static_cast<std::uint64_t>(info["zipBytes"].GetInt64()), result.zipBytes);
  EXPECT_EQ(Strings(info["fileNameList"]),
            (std::vector<std::string>{"assets", "assets/maps", "assets/maps/first map.dat",
                                      "assets/quote\"and\\slash.txt", "kolv.exe", "saves"}));

  const auto config = ParseJson(ReadText(out_ / "MorvanePC1" / "config.json"));
  ASSERT_TRUE(config.IsObject());
  EXPECT_STREQ(config["lastVersion"].GetString(), "1.2.3");
  EXPECT_TRUE(config["unsupportedVersions"].IsArray());
  // Nothing half-written is left beside the published files.
  for (const auto& entry : fs::directory_iterator(out_ / "MorvanePC1")) {
    EXPECT_EQ(entry.path().filename().string().find(".publishing"), std::string::npos) << entry.path();
  }
}

std::string Sha256Hex(const std::string& bytes) {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256(digest, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  static const char* const kHex = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : digest) hex += {kHex[byte >> 4], kHex[byte & 15]};
  return hex;
}

// The file list names each packed file (no folder) with the size and SHA-256 of the build's file
// and the CRC-32 its entry carries, and the launcher's reader takes it as written.
TEST_F(PublisherTest, FileListGivesEachPackedFileItsSizeDigestAndEntryCrc) {
  ASSERT_GE(sodium_init(), 0);
  WriteText(build_ / "saves" / "empty.cfg", "");
  Run(Options("1.2.3"));
  const std::string text = ReadText(out_ / "MorvanePC1" / "fileInfo_1_2_3.json");
  const auto info = ParseJson(text);
  ASSERT_TRUE(info.IsObject());
  ASSERT_TRUE(info.HasMember("files") && info["files"].IsArray());
  const auto entries = ReadArchive(out_ / "MorvanePC1" / "res_1_2_3.zip");

  std::vector<std::string> paths;
  for (const auto& file : info["files"].GetArray()) {
    const std::string path = file["path"].GetString();
    paths.push_back(path);
    const std::string content = ReadText(build_ / path);
    ASSERT_TRUE(file["size"].IsUint64()) << path;
    EXPECT_EQ(file["size"].GetUint64(), content.size()) << path;
    EXPECT_EQ(file["sha256"].GetString(), Sha256Hex(content)) << path;
    ASSERT_TRUE(entries.count(path)) << path;
    EXPECT_TRUE(entries.at(path).crcHolds) << path;
    EXPECT_EQ(file["crc32"].GetUint64(), entries.at(path).crc32) << path;
  }
  EXPECT_EQ(paths, (std::vector<std::string>{"assets/maps/first map.dat", "assets/quote\"and\\slash.txt", "kolv.exe",
                                             "saves/empty.cfg"}));
  // The list beside it is unchanged: folders and files, as earlier launchers read it.
  EXPECT_EQ(Strings(info["fileNameList"]),
            (std::vector<std::string>{"assets", "assets/maps", "assets/maps/first map.dat",
                                      "assets/quote\"and\\slash.txt", "kolv.exe", "saves", "saves/empty.cfg"}));

  const auto parsed = ParseManifestFiles(text);
  ASSERT_TRUE(parsed.has_value());
  ASSERT_EQ(parsed->size(), 4u);
  EXPECT_EQ((*parsed)[0].path, "assets/maps/first map.dat");
  EXPECT_EQ((*parsed)[0].size, 200000u);
  EXPECT_EQ((*parsed)[0].crc32, entries.at("assets/maps/first map.dat").crc32);
  EXPECT_EQ((*parsed)[3].sha256, Sha256Hex(""));
}

// What a launcher reads of a published archive by ranges agrees with the published list, and
// the ranges of all listed files hold their local headers.
TEST_F(PublisherTest, PublishedArchiveIsReadByRangesAsItsFileListSays) {
  Run(Options("1.2.4"));
  const std::string archive = ReadText(out_ / "MorvanePC1" / "res_1_2_4.zip");
  const auto files = ParseManifestFiles(ReadText(out_ / "MorvanePC1" / "fileInfo_1_2_4.json"));
  ASSERT_TRUE(files.has_value());
  const std::uint64_t tail = std::min<std::uint64_t>(archive.size(), kEndRecordSearchBytes);
  const DirectoryLookup lookup =
      FindCentralDirectory(std::string_view(archive).substr(archive.size() - tail), archive.size());
  ASSERT_EQ(lookup.kind, DirectoryLookup::Kind::kFound);
  std::vector<RemoteEntry> entries;
  ASSERT_TRUE(ParseCentralDirectory(std::string_view(archive).substr(lookup.place.offset, lookup.place.size),
                                    lookup.place, entries));
  EXPECT_EQ(entries.size(), 6u);
  std::vector<std::size_t> entryOf;
  ASSERT_EQ(CheckDirectoryAgrees(entries, *files, entryOf), std::nullopt);
  std::vector<ByteRange> ranges;
  ASSERT_TRUE(JoinEntryRanges(entries, entryOf, lookup.place, ranges, 0));
  std::size_t held = 0;
  for (const auto& range : ranges) {
    for (const std::size_t entry : range.entries) {
      EXPECT_EQ(archive.substr(entries[entry].localHeaderOffset, 4), "PK\x03\x04");
      EXPECT_GE(entries[entry].localHeaderOffset, range.first);
      EXPECT_LE(entries[entry].localHeaderOffset + 30 + entries[entry].compressedSize, range.last + 1);
      ++held;
    }
  }
  EXPECT_EQ(held, files->size());
  // A list naming another CRC-32 does not match the archive.
  auto altered = *files;
  altered[0].crc32 ^= 1;
  EXPECT_EQ(CheckDirectoryAgrees(entries, altered, entryOf), FallbackReason::kDirectoryMismatch);
}

TEST_F(PublisherTest, ArchiveHoldsEveryFileAndFolderWithUnixModes) {
  Run(Options("1.0.0"));
  const auto entries = ReadArchive(out_ / "MorvanePC1" / "res_1_0_0.zip");

  ASSERT_EQ(entries.size(), 6u);
  EXPECT_EQ(entries.at("kolv.exe").content, "#!/bin/sh\necho game\n");
  EXPECT_EQ(entries.at("assets/maps/first map.dat").content, std::string(200000, 'm'));
  EXPECT_EQ(entries.at("assets/quote\"and\\slash.txt").content, "odd name");
  for (const auto& [name, entry] : entries) EXPECT_EQ(entry.hostSystem, 3) << name;
  EXPECT_EQ(entries.at("kolv.exe").unixMode, 0100755u);
  EXPECT_TRUE(S_ISREG(entries.at("assets/maps/first map.dat").unixMode));
  EXPECT_EQ(entries.at("assets/maps/first map.dat").unixMode & 0111, 0u);
  ASSERT_TRUE(entries.count("saves/"));
  EXPECT_TRUE(S_ISDIR(entries.at("saves/").unixMode));
  EXPECT_TRUE(entries.count("assets/maps/"));
}

TEST_F(PublisherTest, RepublishingTheSameBuildChangesNothing) {
  const auto first = Run(Options("1.0.0"));
  const auto second = Run(Options("1.0.0"));
  EXPECT_FALSE(first.unchanged);
  EXPECT_TRUE(second.unchanged);
  EXPECT_EQ(first.zipMd5, second.zipMd5);
}

TEST_F(PublisherTest, NeverReplacesAPublishedVersionWithOtherContent) {
  const auto first = Run(Options("1.0.0"));
  const fs::path archive = out_ / "MorvanePC1" / "res_1_0_0.zip";
  const std::string infoBefore = ReadText(out_ / "MorvanePC1" / "fileInfo_1_0_0.json");
  WriteText(build_ / "kolv.exe", "#!/bin/sh\necho patched\n");

  try {
    Run(Options("1.0.0"));
    FAIL() << "republished other content";
  } catch (const PublishError& error) {
    EXPECT_NE(std::string(error.what()).find("already published"), std::string::npos) << error.what();
  }
  EXPECT_EQ(Md5OfFile(archive), first.zipMd5);
  EXPECT_EQ(ReadText(out_ / "MorvanePC1" / "fileInfo_1_0_0.json"), infoBefore);
  EXPECT_EQ(std::distance(fs::directory_iterator(out_ / "MorvanePC1"), fs::directory_iterator()), 3);
}

TEST_F(PublisherTest, RefusesWhenOnlyTheFileInformationSurvives) {
  Run(Options("1.0.0"));
  fs::remove(out_ / "MorvanePC1" / "res_1_0_0.zip");  // the archive lives on the CDN only
  WriteText(build_ / "new.txt", "more");
  EXPECT_THROW(Run(Options("1.0.0")), PublishError);
  EXPECT_FALSE(fs::exists(out_ / "MorvanePC1" / "res_1_0_0.zip"));
}

TEST_F(PublisherTest, NewVersionKeepsOrReplacesTheUnsupportedList) {
  auto options = Options("1.0.0");
  options.unsupportedVersions = std::vector<std::string>{"0.x.x"};
  Run(options);
  // Other members a studio added by hand survive.
  const fs::path configPath = out_ / "MorvanePC1" / "config.json";
  WriteText(configPath, R"({"lastVersion":"1.0.0","unsupportedVersions":["0.x.x"],"notice":"hello"})");

  Run(Options("1.1.0"));
  auto config = ParseJson(ReadText(configPath));
  EXPECT_STREQ(config["lastVersion"].GetString(), "1.1.0");
  EXPECT_EQ(Strings(config["unsupportedVersions"]), (std::vector<std::string>{"0.x.x"}));
  EXPECT_STREQ(config["notice"].GetString(), "hello");
  EXPECT_TRUE(fs::exists(out_ / "MorvanePC1" / "res_1_0_0.zip"));  // the old release stays for old launchers

  auto replace = Options("1.2.0");
  replace.unsupportedVersions = std::vector<std::string>{"1.0.x", "1.1.0"};
  Run(replace);
  config = ParseJson(ReadText(configPath));
  EXPECT_EQ(Strings(config["unsupportedVersions"]), (std::vector<std::string>{"1.0.x", "1.1.0"}));
}

TEST_F(PublisherTest, RefusesBrokenInputsBeforeWritingAnything) {
  auto missing = Options("1.0.0");
  missing.buildFolder = root_ / "no such build";
  EXPECT_THROW(Run(missing), PublishError);

  auto empty = Options("1.0.0");
  empty.buildFolder = root_ / "empty";
  fs::create_directories(empty.buildFolder / "only" / "folders");
  EXPECT_THROW(Run(empty), PublishError);

  WriteText(out_ / "MorvanePC1" / "config.json", "[1, 2]");
  EXPECT_THROW(Run(Options("1.0.0")), PublishError);
  EXPECT_FALSE(fs::exists(out_ / "MorvanePC1" / "res_1_0_0.zip"));
  EXPECT_EQ(ReadText(out_ / "MorvanePC1" / "config.json"), "[1, 2]");
}

TEST_F(PublisherTest, RefusesALinkToAFolder) {
  fs::create_directory_symlink(build_ / "assets", build_ / "assets_link");
  EXPECT_THROW(Run(Options("1.0.0")), PublishError);
}

// The executable: exit codes and streams as a build script sees them.
int RunTool(const std::string& arguments, const fs::path& capture) {
  const std::string command =
      std::string("'") + LAUNCHER_PUBLISH_EXE + "' " + arguments + " >'" + capture.string() + "' 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_F(PublisherTest, ToolExitCodes) {
  const fs::path capture = root_ / "capture.txt";
  EXPECT_EQ(RunTool("--help", capture), 0);
  EXPECT_NE(ReadText(capture).find("usage: launcher-publish"), std::string::npos);

  const std::string args = "MorvanePC1 1.0.0 '" + build_.string() + "' '" + out_.string() + "'";
  EXPECT_EQ(RunTool(args, capture), 0);
  EXPECT_NE(ReadText(capture).find("published MorvanePC1 1.0.0"), std::string::npos);
  EXPECT_EQ(RunTool("MorvanePC1 1.0 '" + build_.string() + "' '" + out_.string() + "'", capture), 2);

  WriteText(build_ / "kolv.exe", "other");
  EXPECT_EQ(RunTool(args, capture), 1);
  EXPECT_NE(ReadText(capture).find("already published"), std::string::npos);
}

}  // namespace
}  // namespace publish
