// Updates by files with the real launcher against nginx on 127.0.0.1 (and the project's own
// content server): a release that changes one file costs about that file, a deleted file is
// fetched alone, dropped files go and nothing else does, and a server that ignores ranges still
// installs the release from the whole archive.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "package/remote_zip.h"
#include "tests/e2e/launcher_fixture.h"
#include "tests/support/nginx_server.h"
#include "tools/publish/publisher.h"
#include "update/file_manifest.h"

namespace e2e {
namespace {

using testsupport::NginxServer;

constexpr std::uint64_t kPackBytes = 1024 * 1024;
constexpr std::uint64_t kChangedBytes = 2 * 1024 * 1024;
constexpr int kPacks = 5;

std::string RandomBytes(std::uint64_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

class FileLevelUpdateTest : public LauncherFixture {
 protected:
  // Every file below `folder` by its relative path, with its bytes.
  static std::map<std::string, std::string> Files(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).generic_string()] = ReadText(entry.path());
    }
    return files;
  }

  // Version 1.0.<n>: the game, five packs that never change, one pack that changes with every
  // version, and in version 1.0.0 only a file the later ones drop.
  fs::path Build(int patch) {
    const fs::path build = root_ / ("files_build_" + std::to_string(patch));
    fs::create_directories(build / "assets");
    fs::copy_file(LAUNCHER_E2E_DEMO_GAME, build / kGameExe, fs::copy_options::overwrite_existing);
    for (int pack = 0; pack < kPacks; ++pack) {
      WriteText(build / "assets" / ("pack" + std::to_string(pack) + ".bin"), RandomBytes(kPackBytes, 100 + pack));
    }
    WriteText(build / "assets" / "changing.bin", RandomBytes(kChangedBytes, 7 + patch));
    if (patch == 0) WriteText(build / "old" / "dropped.txt", "a file only the first release has");
    return build;
  }

  publish::PublishResult PublishBuild(int patch) {
    publish::PublishOptions options;
    options.channelId = kChannel;
    options.version = "1.0." + std::to_string(patch);
    options.buildFolder = Build(patch);
    options.outputFolder = content_;
    // A version the server does not rule out keeps running on its cached file information.
    if (patch > 0) options.unsupportedVersions = std::vector<std::string>{"1.0." + std::to_string(patch - 1)};
    std::ostringstream progress;
    return publish::Publish(options, progress);
  }

  // The archive's central directory entry of `name`, read from the published archive.
  RemoteEntry EntryOf(const std::string& zipName, const std::string& name) {
    const std::string archive = ReadText(content_ / zipName);
    const DirectoryLookup lookup = FindCentralDirectory(archive, archive.size());
    std::vector<RemoteEntry> entries;
    EXPECT_EQ(lookup.kind, DirectoryLookup::Kind::kFound);
    EXPECT_TRUE(ParseCentralDirectory(std::string_view(archive).substr(lookup.place.offset, lookup.place.size),
                                      lookup.place, entries));
    directoryBytes_ = lookup.place.size;
    for (const auto& entry : entries) {
      if (entry.name == name) return entry;
    }
    ADD_FAILURE() << "no entry " << name;
    return {};
  }

  // The data folder holds exactly the build's files, besides the launcher's own and `foreign`.
  void ExpectInstalled(int patch, const std::map<std::string, std::string>& foreign) {
    std::map<std::string, std::string> expected = Files(Build(patch));
    expected.insert(foreign.begin(), foreign.end());
    std::map<std::string, std::string> installed = Files(DataFolder());
    for (auto at = installed.begin(); at != installed.end();) {
      const bool own =
          at->first == "downloadRecord" || at->first == "demo_game_runs.txt" || at->first.rfind("fileInfo_", 0) == 0;
      at = own ? installed.erase(at) : std::next(at);
    }
    std::vector<std::string> differing;
    for (const auto& [path, bytes] : expected) {
      if (installed.count(path) == 0 || installed[path] != bytes) differing.push_back(path);
    }
    for (const auto& [path, bytes] : installed) {
      if (expected.count(path) == 0) differing.push_back(path);
    }
    EXPECT_TRUE(differing.empty()) << "differing: " << ::testing::PrintToString(differing);
  }

  LauncherRun Run() {
    LauncherRun run = RunLauncher({});
    EXPECT_EQ(run.exitCode, 0) << run.output;
    return run;
  }

  // nginx on the port the test launcher is built for, serving the content folder.
  std::unique_ptr<NginxServer> StartNginx(const std::string& extra = "") {
    auto nginx = std::make_unique<NginxServer>(
        "server { listen 127.0.0.1:@PORT0@; root " + content_.string() + "; " + extra + " }",
        std::vector<int>{LAUNCHER_E2E_PORT});
    EXPECT_TRUE(nginx->Started()) << nginx->ErrorLog();
    return nginx;
  }

  std::uint64_t directoryBytes_ = 0;
};

TEST_F(FileLevelUpdateTest, OneChangedFileCostsAboutItsCompressedSizeAndDroppedFilesGo) {
  const auto nginx = StartNginx();
  PublishBuild(0);
  const LauncherRun first = Run();
  EXPECT_NE(first.output.find("whole-archive update: "), std::string::npos) << first.output;
  ExpectInstalled(0, {});
  WriteText(DataFolder() / "saves" / "slot1.sav", "the player's own");

  const publish::PublishResult second = PublishBuild(1);
  const LauncherRun update = Run();
  EXPECT_NE(update.output.find("file-level update: 1 of " + std::to_string(kPacks + 2) + " files"), std::string::npos)
      << update.output;
  ExpectInstalled(1, {{"saves/slot1.sav", "the player's own"}});
  EXPECT_EQ(GameRuns(2).size(), 2u);

  // nginx counts headers too: a few hundred bytes per request, four requests at most (the end,
  // the directory when it lies before the end's bytes, the range).
  const RemoteEntry changed = EntryOf(second.zipName, "assets/changing.bin");
  const std::uint64_t sent = nginx->BytesSent(0, second.zipName);
  EXPECT_GE(sent, changed.compressedSize);
  EXPECT_LE(sent, changed.compressedSize * 103 / 100 + 16 * 1024 + directoryBytes_ + 4096)
      << "archive of " << second.zipBytes << " bytes";
  EXPECT_LT(sent, second.zipBytes / 3);
  std::printf("update by files: nginx sent %llu bytes for a changed entry of %llu, archive of %llu, in %lld ms\n",
              static_cast<unsigned long long>(sent), static_cast<unsigned long long>(changed.compressedSize),
              static_cast<unsigned long long>(second.zipBytes), static_cast<long long>(update.elapsed.count()));

  // The record holds the new package: the next start asks for nothing of it.
  const LauncherRun again = Run();
  EXPECT_EQ(nginx->BytesSent(0, second.zipName), sent) << again.output;
  EXPECT_EQ(GameRuns(3).size(), 3u);
}

TEST_F(FileLevelUpdateTest, DeletedFileIsFetchedAloneAndRangesOffFallsBackToTheWholeArchive) {
  auto nginx = StartNginx();
  const publish::PublishResult first = PublishBuild(0);
  Run();
  fs::remove(DataFolder() / "assets" / "pack3.bin");
  const std::uint64_t before = nginx->BytesSent(0, first.zipName);
  const LauncherRun repair = Run();
  EXPECT_NE(repair.output.find("file-level update: 1 of " + std::to_string(kPacks + 3) + " files"), std::string::npos)
      << repair.output;
  ExpectInstalled(0, {});
  const std::uint64_t sent = nginx->BytesSent(0, first.zipName) - before;
  const RemoteEntry pack = EntryOf(first.zipName, "assets/pack3.bin");
  EXPECT_GE(sent, pack.compressedSize);
  EXPECT_LE(sent, pack.compressedSize * 103 / 100 + 16 * 1024 + directoryBytes_ + 4096);

  // The same content behind a server without ranges: the release comes whole, and installs.
  nginx.reset();
  nginx = StartNginx("max_ranges 0;");
  const publish::PublishResult second = PublishBuild(1);
  const LauncherRun update = Run();
  EXPECT_NE(update.output.find(FallbackLine(FallbackReason::kRangesIgnored)), std::string::npos) << update.output;
  ExpectInstalled(1, {});
  EXPECT_GE(nginx->BytesSent(0, second.zipName), second.zipBytes);
}

// A launcher killed in the commit of an update by files leaves pieces of both releases and the
// record's mark; the next run installs the whole archive and still removes what the release
// before it had and this one has not, and the folder that file leaves empty.
TEST_F(FileLevelUpdateTest, InstallAfterAnUnfinishedCommitRemovesTheReplacedReleasesDroppedFiles) {
  const auto nginx = StartNginx();
  const publish::PublishResult first = PublishBuild(0);
  Run();
  WriteText(DataFolder() / "saves" / "slot1.sav", "the player's own");
  const publish::PublishResult second = PublishBuild(1);
  // What the killed commit left: the new release's changed file in place, the old one's dropped
  // file still there, and the record naming the new package under its mark.
  fs::copy_file(Build(1) / "assets" / "changing.bin", DataFolder() / "assets" / "changing.bin",
                fs::copy_options::overwrite_existing);
  WriteText(DataFolder() / "downloadRecord", "zipName=" + second.zipName + "\r\nzipMd5=" + second.zipMd5 +
                                                 "\r\nunzipping=" + second.zipName +
                                                 "\r\nreplacedZipName=" + first.zipName);
  const LauncherRun update = Run();
  EXPECT_NE(update.output.find("whole-archive update: an earlier install did not finish"), std::string::npos)
      << update.output;
  EXPECT_NE(update.output.find("removed old/dropped.txt, which the new release no longer has"), std::string::npos)
      << update.output;
  ExpectInstalled(1, {{"saves/slot1.sav", "the player's own"}});
  EXPECT_FALSE(fs::exists(DataFolder() / "old"));
  EXPECT_GE(nginx->BytesSent(0, second.zipName), second.zipBytes);
}

TEST_F(FileLevelUpdateTest, ProjectContentServerServesTheUpdateByFiles) {
  PublishBuild(0);
  StartServer();
  Run();
  const publish::PublishResult second = PublishBuild(1);
  ClearLog();
  const LauncherRun update = Run();
  EXPECT_NE(update.output.find("file-level update: 1 of"), std::string::npos) << update.output;
  ExpectInstalled(1, {});
  std::uint64_t body = 0;
  for (const std::string& line : LogFor("/" + second.zipName)) body += std::stoull(line.substr(line.rfind(' ') + 1));
  const RemoteEntry changed = EntryOf(second.zipName, "assets/changing.bin");
  EXPECT_GE(body, changed.compressedSize);
  EXPECT_LE(body, changed.compressedSize + 16 * 1024 + directoryBytes_);
}

}  // namespace
}  // namespace e2e
