// The real launcher beside files that are not its own and documents it must not trust: links
// planted in its working folder, names a server sends that point elsewhere, digests in another
// spelling or a damaged cache, a record it cannot keep, a game copy of another install.
// Whatever happens, every file outside the package stays byte for byte as it was.
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <thread>

#include "app/texts.h"
#include "platform/text_encoding.h"
#include "tests/e2e/launcher_fixture.h"

namespace e2e {
namespace {

// Relative path → what is there: a link's target, or a file's size and a hash of its bytes.
using Snapshot = std::map<std::string, std::string>;

class ForeignFilesTest : public LauncherFixture {
 protected:
  void SetUp() override {
    LauncherFixture::SetUp();
    outside_ = root_ / "outside";
    WriteText(outside_ / "keep" / "notes.txt", "the player's notes");
    WriteText(outside_ / "keep" / "sub" / "deep.bin", std::string(4096, '\x5a'));
    WriteText(outside_ / "secret.txt", "a file of the player");
    WriteText(outside_ / "assets" / "pack0.bin", "assets of another program");
    WriteText(outside_ / "record.txt", "zipName=not the launcher's");
  }

  void InstallFirstVersion() {
    Publish("1.0.0");
    StartServer();
    const LauncherRun run = RunLauncher({});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    ASSERT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0") << run.output;
    ClearLog();
  }

  // Every file and link below `folder`, with its content.
  static Snapshot Take(const fs::path& folder) {
    Snapshot files;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
      const std::string relative = fs::relative(it->path(), folder).string();
      if (it->is_symlink()) {
        files[relative] = "->" + fs::read_symlink(it->path()).string();
      } else if (it->is_regular_file()) {
        const std::string bytes = ReadText(it->path());
        files[relative] =
            std::to_string(bytes.size()) + " bytes, hash " + std::to_string(std::hash<std::string>()(bytes));
      }
    }
    return files;
  }

  // The box a failed start of the game shows, as the terminal prints it.
  static std::string StartFailedBox(const std::string& reason) {
    return platform::GbkToUtf8(texts::kGameStartFailed) + reason;
  }

  // A copy of the demo game that stays open, started from `folder` as a player would.
  static std::unique_ptr<ChildProcess> StartOpenGame(const fs::path& folder) {
    setenv("DEMO_GAME_STAY_MS", "60000", 1);
    auto game = std::make_unique<ChildProcess>(folder / kGameExe, std::vector<std::string>{"open"}, folder,
                                               std::vector<std::string>{});
    unsetenv("DEMO_GAME_STAY_MS");
    game->WaitForOutput("demo game started", std::chrono::seconds(10));
    return game;
  }

  // True when the process ended within `limit`, by its own exit or by a signal.
  static bool EndsWithin(ChildProcess& process, std::chrono::seconds limit) {
    process.WaitForExit(limit);
    return process.Exited();
  }

  fs::path Game() const { return DataFolder() / kGameExe; }

  // The served file information of `version` with `change` made to its document.
  void EditServedFileInfo(const std::string& version, const std::function<void(rapidjson::Document&)>& change) {
    std::string name = version;
    for (char& c : name) c = c == '.' ? '_' : c;
    const fs::path info = ContentChannel() / ("fileInfo_" + name + ".json");
    rapidjson::Document document;
    document.Parse(ReadText(info).c_str());
    ASSERT_TRUE(document.IsObject());
    change(document);
    rapidjson::StringBuffer text;
    rapidjson::Writer<rapidjson::StringBuffer> writer(text);
    document.Accept(writer);
    WriteText(info, text.GetString());
  }

  fs::path outside_;
};

TEST_F(ForeignFilesTest, DownloadFolderLinkedElsewhereLosesOnlyTheLink) {
  InstallFirstVersion();
  const Snapshot before = Take(outside_);
  fs::create_directory_symlink(outside_ / "keep", DownloadFolder());

  const LauncherRun run = RunLauncher({"again"});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(GameRuns(2).size(), 2u) << run.output;
  EXPECT_EQ(Take(outside_), before);
  EXPECT_FALSE(fs::exists(fs::symlink_status(DownloadFolder()))) << "the link itself is removed";
}

TEST_F(ForeignFilesTest, LinksInPlaceOfTheArchiveARecordTemporaryAndAPackageFolderAreReplacedNotFollowed) {
  InstallFirstVersion();
  Publish("1.0.1", {"1.0.x"});
  fs::create_directories(DownloadFolder());
  fs::create_symlink(outside_ / "secret.txt", DownloadFolder() / "res_1_0_1.zip");
  fs::create_symlink(outside_ / "record.txt", DataFolder() / "downloadRecord.tmp");
  fs::remove_all(DataFolder() / "assets");
  fs::create_directory_symlink(outside_ / "assets", DataFolder() / "assets");
  const Snapshot before = Take(outside_);

  const LauncherRun run = RunLauncher({"updated"});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(Take(outside_), before);
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.1");
  EXPECT_FALSE(fs::is_symlink(DataFolder() / "assets"));
  EXPECT_EQ(ReadText(DataFolder() / "assets" / "pack0.bin"), ReadText(root_ / "build_1.0.1" / "assets" / "pack0.bin"));
  EXPECT_NE(ReadText(DataFolder() / "downloadRecord").find("res_1_0_1.zip"), std::string::npos);
  EXPECT_EQ(GameRuns(2).size(), 2u) << run.output;
}

TEST_F(ForeignFilesTest, ArchiveNameOfAPlayersFileIsRefusedAndARecordNamingOneLeavesItAlone) {
  InstallFirstVersion();
  WriteText(DataFolder() / "save.dat", "the player's saved game");
  const std::string md5 = Publish("1.0.1", {"1.0.x"});
  const fs::path info = ContentChannel() / "fileInfo_1_0_1.json";
  const std::string published = ReadText(info);
  std::string hostile = published;
  hostile.replace(hostile.find("MorvanePC1/res_1_0_1.zip"), 24, "Tessarine_MorvanePC1/save.dat");
  hostile.replace(hostile.find(md5), md5.size(), std::string(32, '0'));
  WriteText(info, hostile);

  LauncherRun run = RunLauncher({}, "c\n");

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find(platform::GbkToUtf8(texts::kCheckFileError)), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("refused archive name Tessarine_MorvanePC1/save.dat"), std::string::npos);
  EXPECT_EQ(ReadText(DataFolder() / "save.dat"), "the player's saved game");
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0");

  // A record naming a file anywhere (an earlier launcher took any name): the update replaces
  // the value and leaves the file.
  WriteText(info, published);
  const Snapshot before = Take(outside_);
  WriteText(DataFolder() / "downloadRecord",
            "zipName=" + (outside_ / "secret.txt").string() + "\r\nzipMd5=" + std::string(32, '1'));
  run = RunLauncher({});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(Take(outside_), before);
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.1");
  EXPECT_EQ(ReadText(DataFolder() / "save.dat"), "the player's saved game");
}

TEST_F(ForeignFilesTest, DamagedCachedFileInformationIsDroppedAfterOneMismatchAndAnUpperCaseDigestCounts) {
  InstallFirstVersion();
  const fs::path cache = DataFolder() / "fileInfo_1_0_0.json";
  const fs::path served = ContentChannel() / "fileInfo_1_0_0.json";
  std::string text = ReadText(cache);
  const std::string md5 = text.substr(text.find("\"zipMd5\": \"") + 11, 32);
  text.replace(text.find(md5), md5.size(), std::string(32, '0'));
  WriteText(cache, text);
  std::string upper = md5;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string published = ReadText(served);
  published.replace(published.find(md5), md5.size(), " " + upper + " ");
  WriteText(served, published);

  const LauncherRun run = RunLauncher({"repaired"}, "r\n");

  ASSERT_EQ(run.exitCode, 0) << run.output;
  const std::string mismatch = platform::GbkToUtf8(texts::kDigestMismatch);
  const auto first = run.output.find(mismatch);
  ASSERT_NE(first, std::string::npos) << run.output;
  EXPECT_EQ(run.output.find(mismatch, first + 1), std::string::npos) << "one mismatch, then the server's digest";
  EXPECT_EQ(LogFor("/MorvanePC1/res_1_0_0.zip").size(), 2u);
  const auto runs = GameRuns(2);
  ASSERT_EQ(runs.size(), 2u) << run.output;
  EXPECT_EQ(runs[1].args, std::vector<std::string>{"repaired"});
  EXPECT_EQ(ReadText(cache), published);
}

// A release that turns files into folders and folders into files replaces what the player's
// install holds, links of the player's included, without reaching through any of them.
TEST_F(ForeignFilesTest, ReleaseSwappingFilesAndFoldersInstallsOverTheFirstAndLinksLoseOnlyThemselves) {
  const fs::path first = MakeGameBuild("1.0.0");
  WriteText(first / "maps", "maps of 1.0.0");
  WriteText(first / "music", "music of 1.0.0");
  WriteText(first / "lang" / "en" / "text.txt", "text of 1.0.0");
  InstallFirstVersion();
  ASSERT_EQ(ReadText(DataFolder() / "lang" / "en" / "text.txt"), "text of 1.0.0");
  fs::remove(DataFolder() / "music");
  fs::create_directory_symlink(outside_ / "keep", DataFolder() / "music");
  fs::create_symlink(outside_ / "secret.txt", DataFolder() / "lang" / "en" / "linked.txt");
  fs::create_directory_symlink(outside_ / "keep", DataFolder() / "lang" / "linked");
  const Snapshot before = Take(outside_);

  const fs::path second = MakeGameBuild("1.0.1");
  WriteText(second / "maps" / "level1.bin", "level 1 of 1.0.1");
  WriteText(second / "music" / "track1.ogg", "track of 1.0.1");
  WriteText(second / "lang", "language pack of 1.0.1");
  Publish("1.0.1", {"1.0.x"});
  const LauncherRun run = RunLauncher({"updated"});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.1") << run.output;
  EXPECT_EQ(ReadText(DataFolder() / "maps" / "level1.bin"), "level 1 of 1.0.1");
  EXPECT_FALSE(fs::is_symlink(DataFolder() / "music"));
  EXPECT_EQ(ReadText(DataFolder() / "music" / "track1.ogg"), "track of 1.0.1");
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(DataFolder() / "lang")));
  EXPECT_EQ(ReadText(DataFolder() / "lang"), "language pack of 1.0.1");
  EXPECT_EQ(Take(outside_), before);
  const auto runs = GameRuns(2);
  ASSERT_EQ(runs.size(), 2u) << run.output;
  EXPECT_EQ(runs[1].args, std::vector<std::string>{"updated"});
}

// The record carries the mark that the data folder holds no whole package while files are
// replaced; where it cannot be written, nothing is replaced.
TEST_F(ForeignFilesTest, RecordThatCannotBeWrittenStopsTheUpdateBeforeAnyFileIsReplaced) {
  InstallFirstVersion();
  Publish("1.0.1", {"1.0.x"});
  fs::remove(DataFolder() / "downloadRecord");
  fs::create_directories(DataFolder() / "downloadRecord" / "in the way");
  const Snapshot installed = Take(DataFolder());

  const LauncherRun run = RunLauncher({});  // the record's box is confirmed, the retry cancelled

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find(platform::GbkToUtf8(texts::kRecordErrorHead)), std::string::npos) << run.output;
  EXPECT_NE(run.output.find(platform::GbkToUtf8(texts::kUnzipFailedHead)), std::string::npos) << run.output;
  EXPECT_EQ(Take(DataFolder()), installed);
  EXPECT_EQ(GameRuns(1).size(), 1u) << "the game is not started again";
}

// A game the system calls no program is deleted, with the system's reason in a box, and the
// next run unpacks it anew.
TEST_F(ForeignFilesTest, DamagedGameIsDeletedWithTheSystemsReasonAndTheNextRunRepairsIt) {
  InstallFirstVersion();
  const Snapshot before = Take(outside_);
  WriteText(Game(), std::string(3000, '\x5a'));
  fs::permissions(Game(), fs::perms::owner_all);

  LauncherRun run = RunLauncher({});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find(StartFailedBox("Exec format error")), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(Game()));
  EXPECT_EQ(GameRuns(1).size(), 1u);

  run = RunLauncher({"repaired"});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  const auto runs = GameRuns(2);
  ASSERT_EQ(runs.size(), 2u) << run.output;
  EXPECT_EQ(runs[1].args, std::vector<std::string>{"repaired"});
  EXPECT_EQ(ReadText(Game()), ReadText(LAUNCHER_E2E_DEMO_GAME));
  // The repair fetched the game alone, by ranges, never the whole archive.
  EXPECT_TRUE(WholeArchiveLogFor("/MorvanePC1/res_1_0_0.zip").empty());
  EXPECT_GT(LogFor("/MorvanePC1/res_1_0_0.zip").size(), 1u);
  EXPECT_EQ(Take(outside_), before);
}

// A game that may not be run is no damaged file: it stays byte for byte, the player reads why,
// and no run downloads the package again for it.
TEST_F(ForeignFilesTest, GameThatMayNotBeRunIsKeptAndTheReasonShownOnEveryRun) {
  InstallFirstVersion();
  fs::permissions(Game(), fs::perms::owner_read | fs::perms::owner_write);
  const Snapshot installed = Take(DataFolder());

  for (int attempt = 0; attempt < 2; ++attempt) {
    const LauncherRun run = RunLauncher({});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find(StartFailedBox("Permission denied")), std::string::npos) << run.output;
  }
  EXPECT_TRUE(LogFor("/MorvanePC1/res_1_0_0.zip").empty());
  Snapshot now = Take(DataFolder());
  EXPECT_EQ(now.erase("fileInfo_1_0_0.json"), 1u);  // the cache is saved again before every start
  Snapshot expected = installed;
  expected.erase("fileInfo_1_0_0.json");
  EXPECT_EQ(now, expected);
}

// The data folder on a mount without execution (where the test may mount one: a namespace of
// its own, as scripts/isolated.sh gives).
TEST_F(ForeignFilesTest, GameOnAMountWithoutExecutionIsKept) {
  InstallFirstVersion();
  const fs::path saved = root_ / "installed";
  fs::rename(DataFolder(), saved);
  fs::create_directories(DataFolder());
  if (mount("tmpfs", DataFolder().c_str(), "tmpfs", MS_NOEXEC | MS_NOSUID | MS_NODEV, "size=64m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
  }
  fs::copy(saved, DataFolder(), fs::copy_options::recursive);
  const std::string game = ReadText(Game());

  const LauncherRun run = RunLauncher({});

  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find(StartFailedBox("Permission denied")), std::string::npos) << run.output;
  EXPECT_EQ(ReadText(Game()), game);
  EXPECT_TRUE(LogFor("/MorvanePC1/res_1_0_0.zip").empty());
  EXPECT_EQ(umount2(DataFolder().c_str(), MNT_DETACH), 0) << std::strerror(errno);
}

// Another install of the same game (same folder and file names) runs while this one updates:
// the open game of this data folder is stopped, the other keeps running and its files stay.
TEST_F(ForeignFilesTest, GameOfASecondInstallFolderSurvivesAnUpdateOfTheFirst) {
  InstallFirstVersion();
  const fs::path second = root_ / "second install" / kDataFolder;
  fs::create_directories(second.parent_path());
  fs::copy(DataFolder(), second, fs::copy_options::recursive);
  auto theirs = StartOpenGame(second);
  auto ours = StartOpenGame(DataFolder());
  const Snapshot secondBefore = Take(second.parent_path());
  Publish("1.0.1", {"1.0.x"});

  const LauncherRun run = RunLauncher({"updated"});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.1");
  EXPECT_TRUE(EndsWithin(*ours, std::chrono::seconds(5))) << "the open game of this install is stopped";
  EXPECT_FALSE(theirs->Exited()) << run.output;
  EXPECT_NE(run.output.find("runs from another folder"), std::string::npos) << run.output;
  EXPECT_EQ(Take(second.parent_path()), secondBefore);
  const auto runs = GameRuns(3);
  ASSERT_EQ(runs.size(), 3u) << run.output;
  EXPECT_EQ(runs[2].args, std::vector<std::string>{"updated"});
}

// File information that names paths outside the data folder, or a digest that is no digest,
// is malformed: the check's box names the entry, nothing is downloaded, nothing outside is read
// as installed or touched.
TEST_F(ForeignFilesTest, FileInformationReachingOutsideTheDataFolderIsTheChecksError) {
  InstallFirstVersion();
  Publish("1.0.1", {"1.0.x"});
  const std::string published = ReadText(ContentChannel() / "fileInfo_1_0_1.json");
  const Snapshot before = Take(outside_);
  const std::string absolute = (outside_ / "secret.txt").string();
  const struct {
    std::function<void(rapidjson::Document&)> change;
    std::string named;
  } hostile[] = {
      {[](rapidjson::Document& d) { d["fileNameList"].PushBack("../../outside/secret.txt", d.GetAllocator()); },
       "\"fileNameList\" entry ../../outside/secret.txt"},
      {[&](rapidjson::Document& d) {
         d["fileNameList"].PushBack(rapidjson::Value(absolute.c_str(), d.GetAllocator()), d.GetAllocator());
       },
       "\"fileNameList\" entry " + absolute},
      {[](rapidjson::Document& d) { d["zipMd5"].SetString("not a digest"); }, "malformed \"zipMd5\""},
  };
  for (const auto& [change, named] : hostile) {
    WriteText(ContentChannel() / "fileInfo_1_0_1.json", published);
    EditServedFileInfo("1.0.1", change);
    ClearLog();

    const LauncherRun run = RunLauncher({}, "c\n");

    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find(platform::GbkToUtf8(texts::kCheckFileError)), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(named), std::string::npos) << run.output;
    EXPECT_TRUE(LogFor("/MorvanePC1/res_1_0_1.zip").empty()) << named;
    EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0");
  }
  EXPECT_EQ(Take(outside_), before);
  EXPECT_EQ(GameRuns(1).size(), 1u);
}

// A record far larger than any record (a damaged disk, a planted file) is not read: the run
// starts it afresh, ends with the game started, and the record is a record again.
TEST_F(ForeignFilesTest, OversizedRecordIsStartedAfresh) {
  InstallFirstVersion();
  const Snapshot before = Take(outside_);
  std::string huge = "zipName=MorvanePC1/res_1_0_0.zip\nzipMd5=";
  huge.append(8 * 1024 * 1024, 'f');
  WriteText(DataFolder() / "downloadRecord", huge);

  const LauncherRun run = RunLauncher({"afresh"});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find("more than a record ever does"), std::string::npos) << run.output;
  const auto runs = GameRuns(2);
  ASSERT_EQ(runs.size(), 2u) << run.output;
  EXPECT_EQ(runs[1].args, std::vector<std::string>{"afresh"});
  EXPECT_LE(fs::file_size(DataFolder() / "downloadRecord"), 4096u);
  EXPECT_EQ(Take(outside_), before);
}

}  // namespace
}  // namespace e2e
