// The real launcher against the local content server, in terminal mode: dialogs are answered on
// its standard input as a person at the terminal would.
#include <sys/stat.h>

#include <chrono>

#include "app/texts.h"
#include "platform/text_encoding.h"
#include "tests/e2e/launcher_fixture.h"

namespace e2e {
namespace {

using std::chrono::seconds;
using Strings = std::vector<std::string>;

constexpr const char* kRetryPrompt = "[r = Retry, c = Cancel]";
constexpr const char* kArchive100 = "/MorvanePC1/res_1_0_0.zip";
constexpr const char* kArchive101 = "/MorvanePC1/res_1_0_1.zip";

class TerminalRunTest : public LauncherFixture {
 protected:
  // A first run that installs 1.0.0; the state every later scenario starts from.
  void InstallFirstVersion() {
    Publish("1.0.0");
    StartServer();
    const LauncherRun run = RunLauncher({"first"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    ASSERT_EQ(GameRuns(1).size(), 1u) << run.output;
    ASSERT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0") << run.output;
    ClearLog();
  }

  std::uint64_t ArchiveSize(const std::string& version) {
    return fs::file_size(ContentChannel() / ("res_" + version + ".zip"));
  }

  bool SameFile(const fs::path& a, const fs::path& b) { return ReadText(a) == ReadText(b); }
};

TEST_F(TerminalRunTest, FirstRunInstallsVerifiesAndStartsTheGameWithItsArguments) {
  const std::string md5 = Publish("1.0.0");
  StartServer();

  const LauncherRun run = RunLauncher({"--mode", "demo", "-x"});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  const auto runs = GameRuns(1);
  ASSERT_EQ(runs.size(), 1u) << run.output;
  EXPECT_EQ(fs::path(runs[0].cwd), fs::canonical(DataFolder()));
  EXPECT_EQ(runs[0].args, (Strings{"--mode", "demo", "-x"}));

  // Unpacked whole, executable still executable.
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0");
  EXPECT_TRUE(SameFile(DataFolder() / "assets" / "pack0.bin", root_ / "build_1.0.0" / "assets" / "pack0.bin"));
  struct stat game {};
  ASSERT_EQ(stat((DataFolder() / kGameExe).c_str(), &game), 0);
  EXPECT_NE(game.st_mode & S_IXUSR, 0u);

  // Downloaded once, whole; verified against the published digest; the download folder is gone
  // and the file information is cached for the next runs.
  EXPECT_EQ(LogFor(kArchive100),
            Strings{std::string("GET ") + kArchive100 + " range=- 200 " + std::to_string(ArchiveSize("1_0_0"))});
  EXPECT_NE(ReadText(DataFolder() / "downloadRecord").find("zipMd5=" + md5), std::string::npos);
  EXPECT_FALSE(fs::exists(DownloadFolder()));
  EXPECT_EQ(ReadText(DataFolder() / "fileInfo_1_0_0.json"), ReadText(ContentChannel() / "fileInfo_1_0_0.json"));
  // Unpacked into the staging folder while it downloaded; the unzip stage only committed.
  EXPECT_NE(run.output.find("entries while downloading"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("unpacking after the download"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(DataFolder() / ".staging"));
}

TEST_F(TerminalRunTest, SecondRunDownloadsNothingAndStartsTheGame) {
  InstallFirstVersion();

  const LauncherRun run = RunLauncher({"again"});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  const auto runs = GameRuns(2);
  ASSERT_EQ(runs.size(), 2u) << run.output;
  EXPECT_EQ(runs[1].args, Strings{"again"});
  EXPECT_TRUE(LogFor("/MorvanePC1/res_").empty());
  EXPECT_TRUE(LogFor("/MorvanePC1/fileInfo_").empty()) << "the cached file information applies";
  EXPECT_EQ(LogFor("/MorvanePC1/config.json").size(), 1u);
  EXPECT_FALSE(fs::exists(DownloadFolder()));
}

TEST_F(TerminalRunTest, NewVersionIsInstalledOverTheOldOneOnceTheOldIsUnsupported) {
  InstallFirstVersion();

  // A new version alone does not displace an installed one whose file information is cached.
  Publish("1.0.1");
  LauncherRun run = RunLauncher({});
  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0");
  EXPECT_TRUE(LogFor(kArchive101).empty());

  Publish("1.0.1", {"1.0.x"});
  ClearLog();
  run = RunLauncher({"updated"});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.1");
  EXPECT_TRUE(SameFile(DataFolder() / "assets" / "pack0.bin", root_ / "build_1.0.1" / "assets" / "pack0.bin"));
  // Most of the package changed: the whole archive beats its files.
  EXPECT_EQ(WholeArchiveLogFor(kArchive101).size(), 1u);
  EXPECT_TRUE(fs::exists(DataFolder() / "fileInfo_1_0_1.json"));
  EXPECT_FALSE(fs::exists(DownloadFolder()));
  const auto runs = GameRuns(3);
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[2].args, Strings{"updated"});
}

TEST_F(TerminalRunTest, InterruptedDownloadResumesFromThePartialFileAfterRetry) {
  Publish("1.0.0");
  StartServer();
  const std::uint64_t size = ArchiveSize("1_0_0");
  const std::uint64_t half = size / 2;
  Server().CutNextAnswer(kArchive100, half);

  const LauncherRun run = RunLauncher({}, "r\n");

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find(kRetryPrompt), std::string::npos) << run.output;
  EXPECT_EQ(LogFor(kArchive100), (Strings{
                                     std::string("GET ") + kArchive100 + " range=- 200 " + std::to_string(half),
                                     std::string("GET ") + kArchive100 + " range=bytes=" + std::to_string(half) +
                                         "- 206 " + std::to_string(size - half),
                                 }));
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0");
  EXPECT_EQ(GameRuns(1).size(), 1u);
  EXPECT_FALSE(fs::exists(DownloadFolder()));
  // The half kept is hashed once when the download goes on; the rest as it arrives; the
  // verification reads nothing again.
  EXPECT_NE(run.output.find("hashing the " + std::to_string(half) + " bytes already downloaded"), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("digest already taken"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("hashing archive"), std::string::npos) << run.output;
  // The first download's staging went with its failure; the second staged the kept half from
  // the disk, then the rest as it came, and was committed.
  EXPECT_NE(run.output.find("unpacking while downloading stopped: "), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("entries while downloading"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("unpacking after the download"), std::string::npos) << run.output;
}

// An archive a killed launcher left complete: the check hashes it once, the verification takes that digest.
TEST_F(TerminalRunTest, CompleteArchiveLeftOnDiskIsHashedOnce) {
  const std::string md5 = Publish("1.0.0");
  StartServer();
  fs::create_directories(DownloadFolder());
  fs::create_directories(DataFolder());
  fs::copy_file(ContentChannel() / "res_1_0_0.zip", DownloadFolder() / "res_1_0_0.zip");
  WriteText(DataFolder() / "downloadRecord", "zipName=MorvanePC1/res_1_0_0.zip\nzipMd5=" + md5 + "\n");

  const LauncherRun run = RunLauncher({});

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_TRUE(LogFor(kArchive100).empty()) << "nothing to download";
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0");
  EXPECT_NE(run.output.find("archive MorvanePC1/res_1_0_0.zip is complete, MD5 " + md5), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("digest already taken: " + md5), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("hashing archive"), std::string::npos) << run.output;
}

TEST_F(TerminalRunTest, WrongDigestShowsTheMismatchAndCancelLeavesTheInstalledGameAlone) {
  InstallFirstVersion();
  Publish("1.0.1", {"1.0.x"});
  const fs::path info = ContentChannel() / "fileInfo_1_0_1.json";
  std::string text = ReadText(info);
  const std::string md5 = text.substr(text.find("\"zipMd5\": \"") + 11, 32);
  text.replace(text.find(md5), md5.size(), std::string(32, '0'));
  WriteText(info, text);

  const LauncherRun run = RunLauncher({}, "c\n");

  ASSERT_EQ(run.exitCode, 0) << run.output;
  EXPECT_NE(run.output.find(platform::GbkToUtf8(texts::kDigestMismatch)), std::string::npos) << run.output;
  EXPECT_EQ(WholeArchiveLogFor(kArchive101).size(), 1u);
  EXPECT_FALSE(fs::exists(DownloadFolder() / "res_1_0_1.zip")) << "a mismatching archive is deleted";
  EXPECT_EQ(ReadText(DataFolder() / "version.txt"), "1.0.0");
  EXPECT_TRUE(SameFile(DataFolder() / "assets" / "pack0.bin", root_ / "build_1.0.0" / "assets" / "pack0.bin"));
  EXPECT_TRUE(fs::exists(DataFolder() / kGameExe));
  EXPECT_FALSE(fs::exists(DataFolder() / ".staging")) << "what was unpacked while downloading goes with the archive";
  EXPECT_EQ(GameRuns(2).size(), 1u) << "Cancel must not start the game";
}

TEST_F(TerminalRunTest, SecondLauncherLeavesAtOnceWhileTheFirstRuns) {
  Publish("1.0.0");
  StartServer();
  Server().CutNextAnswer(kArchive100, ArchiveSize("1_0_0") / 2);
  auto first = StartLauncher({"one"});
  ASSERT_TRUE(first->WaitForOutput(kRetryPrompt, seconds(30))) << first->Output();

  const auto started = std::chrono::steady_clock::now();
  auto second = StartLauncherOnce({"two"});
  second->CloseInput();
  const auto secondExit = second->WaitForExit(seconds(10));
  const auto took = std::chrono::steady_clock::now() - started;

  EXPECT_EQ(secondExit, 0) << second->Output();
  EXPECT_LT(took, seconds(3));
  EXPECT_TRUE(second->WaitForOutput(kAnotherLauncherRunning, seconds(2))) << second->Output();
  EXPECT_FALSE(first->Exited()) << "the first launcher keeps waiting for its answer";

  first->WriteInput("r\n");
  first->CloseInput();
  EXPECT_EQ(first->WaitForExit(seconds(30)), 0) << first->Output();
  const auto runs = GameRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].args, Strings{"one"});
}

}  // namespace
}  // namespace e2e
