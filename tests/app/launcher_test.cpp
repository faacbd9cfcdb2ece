// The controller's stage machine against stand-in workers, in a scratch working folder.
#include "app/launcher.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

#include "app/settings.h"
#include "app/texts.h"
#include "launcher_doubles.h"
#include "package/archive_digest.h"
#include "package/file_util.h"
#include "platform/process_exit.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Delayed jobs may outlive a test's body, so everything they can reach lives until the process ends.
ExitRecorder& Exits() {
  static auto* recorder = new ExitRecorder;
  return *recorder;
}

struct World {
  FakeCheck check;
  FakeDownloader downloader;
  FakeExtractor extractor;
  FakeGame game;
  ScriptedDialogs dialogs;
  SplashState splash;
  Launcher launcher{LauncherServices{&check, &downloader, &extractor, &game}, &splash};
};

std::vector<World*>& Graveyard() {
  static auto* worlds = new std::vector<World*>;
  return *worlds;
}

constexpr const char* kArchive = "MorvanePC1/res_1_0_3.zip";
constexpr const char* kMd5OfHello = "5d41402abc4b2a76b9719d911017c592";  // "hello"

class LauncherFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    original_ = fs::current_path();
    folder_ = fs::temp_directory_path() / ("launcher-flow-" + std::to_string(getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    fs::current_path(folder_);
    world_ = new World;
    Graveyard().push_back(world_);
    platform::SetCurrentDialogs(&world_->dialogs);
    {
      std::lock_guard<std::mutex> lock(Exits().mutex);
      Exits().exits.clear();
    }
    platform::SetExitHookForTesting([](int code) { Exits().Record(code); });
    LauncherDelays fast;
    fast.verify = 20;
    fast.exitAfterGame = 30;
    fast.exitAfterError = 30;
    fast.exitAfterClose = 30;
    fast.restartRunningGame = 50;
    world_->launcher.SetDelaysForTesting(fast);
    world_->launcher.BuildChannelUrls({"http://127.0.0.1:9/"});
  }
  void TearDown() override {
    platform::SetCurrentDialogs(nullptr);
    fs::current_path(original_);
    fs::remove_all(folder_);
  }

  Launcher& launcher() { return world_->launcher; }
  SplashSnapshot Shown() { return world_->splash.Snapshot(); }
  void WriteFile(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  static std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path original_;
  fs::path folder_;
  World* world_ = nullptr;
};

TEST(FormatBytes, UsesKilobytesBelowOneMegabyteAndOneDecimalAbove) {
  EXPECT_EQ(FormatBytes(0), "0k");
  EXPECT_EQ(FormatBytes(1023), "0k");
  EXPECT_EQ(FormatBytes(1024), "1k");
  EXPECT_EQ(FormatBytes(1048575), "1023k");
  EXPECT_EQ(FormatBytes(1048576), "1.0M");
  EXPECT_EQ(FormatBytes(1572864), "1.5M");
  EXPECT_EQ(FormatBytes(104857600), "100.0M");
  EXPECT_EQ(FormatBytes(5ull << 30), "5120.0M");  // 64-bit sizes stay exact
}

TEST(ProgressWidth, TruncatesTheShareOfTheFullWidth) {
  EXPECT_EQ(ProgressWidth(1572864, 104857600, 564), 8);
  EXPECT_EQ(ProgressWidth(17, 340, 564), 28);
  EXPECT_EQ(ProgressWidth(340, 340, 564), 564);
  // A zero expected size or a nonsense count never becomes a garbage width.
  EXPECT_EQ(ProgressWidth(10, 0, 564), 0);
  EXPECT_EQ(ProgressWidth(0, 0, 564), 0);
  EXPECT_EQ(ProgressWidth(1e300, 1, 564), std::numeric_limits<int>::max());
}

TEST(CutStackTrace, DropsEverythingFromTheMarkerOn) {
  EXPECT_EQ(CutStackTrace("boom StackTrace=at x\nat y"), "boom ");
  EXPECT_EQ(CutStackTrace("plain"), "plain");
  EXPECT_EQ(CutStackTrace("StackTrace="), "");
}

TEST_F(LauncherFlow, StageTextAnimatesDotsEveryHalfSecond) {
  launcher().StartCheck();
  const std::string base = texts::kStageCheck;
  std::vector<std::string> seen;
  for (int frame = 0; frame < 150; ++frame) {  // 2.5 s at 60 frames a second
    launcher().UpdateStageText(1.0 / 60);
    const std::string text = Shown().stageText;
    if (seen.empty() || seen.back() != text) seen.push_back(text);
  }
  ASSERT_GE(seen.size(), 5u);
  EXPECT_EQ(seen[0], base);
  EXPECT_EQ(seen[1], base + ".");
  EXPECT_EQ(seen[2], base + "..");
  EXPECT_EQ(seen[3], base + "...");
  EXPECT_EQ(seen[4], base);
}

TEST_F(LauncherFlow, StartCheckShowsProgressAndAsksTheCheck) {
  launcher().StartCheck();
  EXPECT_EQ(launcher().Stage(), "check");
  EXPECT_TRUE(fs::is_directory(settings::channelId));
  EXPECT_TRUE(Shown().stageVisible);
  EXPECT_TRUE(Shown().fillVisible);
  EXPECT_EQ(Shown().fillWidth, 0);
  EXPECT_EQ(world_->check.starts, 1);
}

TEST_F(LauncherFlow, CheckErrorOffersRetryWhichStartsANewCheck) {
  launcher().StartCheck();
  world_->dialogs.answers = {platform::kAnswerRetry};
  world_->check.last("error", "bad document StackTrace=frames", "", 0, 0);
  ASSERT_EQ(world_->dialogs.Count(), 1u);
  const auto box = world_->dialogs.At(0);
  EXPECT_EQ(box.text, "bad document ");
  EXPECT_EQ(box.caption, texts::kCaptionError);
  EXPECT_EQ(box.style, 0x1005u);
  EXPECT_EQ(world_->dialogs.foregrounds, 1);
  EXPECT_EQ(world_->check.starts, 2);
  EXPECT_EQ(Exits().Count(), 0u);
}

TEST_F(LauncherFlow, CancelEndsAtOnceWithZero) {
  launcher().StartCheck();
  world_->dialogs.answers = {platform::kAnswerCancel};
  std::thread worker([&] { world_->check.last("error", "x", "", 0, 0); });
  worker.detach();  // parked by the exit, as the real exit never returns
  ASSERT_TRUE(Exits().WaitForExit(1s));
  EXPECT_EQ(Exits().exits[0].first, 0);
  EXPECT_EQ(world_->check.starts, 1);
}

TEST_F(LauncherFlow, NeedUpdateStartsADownloadFromTheResumeOffset) {
  launcher().StartCheck();
  world_->check.last("needUpdate", kArchive, kMd5OfHello, 5000, 1000);
  EXPECT_EQ(launcher().Stage(), "download");
  ASSERT_EQ(world_->downloader.tasks.size(), 1u);
  const DownloadTask& task = world_->downloader.tasks[0];
  EXPECT_EQ(task.url, std::string("http://127.0.0.1:9/") + kArchive);
  EXPECT_EQ(task.localPath, kArchive);
  EXPECT_EQ(task.resumeOffset, 1000u);
  ASSERT_EQ(world_->downloader.remembered.size(), 1u);
  EXPECT_EQ(world_->downloader.remembered[0].second, kMd5OfHello);
  const auto shown = Shown();
  EXPECT_TRUE(shown.speedVisible && shown.sizeVisible);
  EXPECT_EQ(shown.sizeText, "0kb/0k");
  EXPECT_EQ(shown.speedText, "0k/s");
}

TEST_F(LauncherFlow, DownloadProgressFillsTheBarAndFormatsTexts) {
  launcher().OnTransferEvent("trans", "", 1572864, 104857600, 524288, kArchive, kMd5OfHello);
  const auto shown = Shown();
  EXPECT_EQ(shown.fillWidth, 8);
  EXPECT_EQ(shown.sizeText, "1.5M/100.0M");
  EXPECT_EQ(shown.speedText, "512k/s");
  // A speed that could not be measured shows as nothing, never as garbage.
  launcher().OnTransferEvent("trans", "", 10, 0, std::numeric_limits<double>::infinity(), kArchive, "");
  EXPECT_EQ(Shown().fillWidth, 0);
  EXPECT_EQ(Shown().speedText, "0k/s");
}

// Where the system keeps a link in the download folder's place (StartCheck removes it where it
// can), nothing is fetched, verified or unpacked through it.
TEST_F(LauncherFlow, DownloadFolderLinkThatStaysStopsTheUpdateWithABox) {
  WriteFile("elsewhere/res_1_0_3.zip", "hello");
  fs::create_directory_symlink("elsewhere", settings::channelId);
  world_->dialogs.answers = {platform::kAnswerRetry};
  launcher().OnCheckResult("needUpdate", kArchive, kMd5OfHello, 5, 5);  // complete "on disk", through the link
  ASSERT_EQ(world_->dialogs.Count(), 1u);
  EXPECT_EQ(world_->dialogs.At(0).text,
            std::string(texts::kRecordErrorHead) + settings::channelId + texts::kRecordErrorTail);
  EXPECT_EQ(world_->dialogs.At(0).caption, texts::kRecordErrorCaption);
  EXPECT_TRUE(world_->downloader.tasks.empty());
  EXPECT_TRUE(world_->extractor.Tasks().empty());
  EXPECT_EQ(ReadFile("elsewhere/res_1_0_3.zip"), "hello");
  EXPECT_EQ(world_->check.starts, 1);  // the Retry's new check, which removes the link here
  EXPECT_FALSE(fs::is_symlink(settings::channelId));
}

TEST_F(LauncherFlow, DownloadFailureOffersRetryWithTheMessage) {
  world_->dialogs.answers = {platform::kAnswerRetry};
  launcher().OnTransferEvent("fail", "curl perform fail", 0, 0, 0, kArchive, kMd5OfHello);
  ASSERT_EQ(world_->dialogs.Count(), 1u);
  EXPECT_EQ(world_->dialogs.At(0).text, std::string("curl perform fail") + texts::kClickToRetry);
  EXPECT_EQ(world_->dialogs.At(0).caption, "");
  EXPECT_EQ(world_->check.starts, 1);
}

TEST_F(LauncherFlow, DownloadGoesOverEveryBaseUrlOnceAndRetryNeverStartsAtTheOneThatFailedLast) {
  const std::vector<std::string> bases = {"http://a/", "http://b/", "http://c/"};
  launcher().BuildChannelUrls(bases);
  LauncherDelays delays;
  delays.stallSeconds = 3;
  delays.stallBytesPerSecond = 2048;
  launcher().SetDelaysForTesting(delays);
  auto baseOf = [&](const std::string& url) { return url.substr(0, url.find('/', 7) + 1); };
  constexpr int kRetries = 24;
  world_->dialogs.answers.assign(kRetries, platform::kAnswerRetry);
  std::set<std::string> firstBases;
  launcher().StartCheck();
  for (int run = 0; run < kRetries; ++run) {  // each Retry starts the check again
    world_->check.last("needUpdate", kArchive, kMd5OfHello, 5000, 1000);
    ASSERT_EQ(world_->downloader.tasks.size(), static_cast<std::size_t>(run + 1));
    const DownloadTask& task = world_->downloader.tasks.back();
    EXPECT_EQ(task.stallSeconds, 3);
    EXPECT_EQ(task.stallBytesPerSecond, 2048);
    EXPECT_EQ(task.archiveBytes, 5000u);
    std::set<std::string> tried = {baseOf(task.url)};
    for (const auto& url : task.mirrorUrls) {
      EXPECT_EQ(url.substr(url.size() - std::string(kArchive).size()), kArchive);
      tried.insert(baseOf(url));
    }
    EXPECT_EQ(tried, std::set<std::string>(bases.begin(), bases.end()));
    ASSERT_EQ(task.mirrorUrls.size(), 2u);
    if (run > 0) {
      const DownloadTask& previous = world_->downloader.tasks[static_cast<std::size_t>(run - 1)];
      EXPECT_NE(baseOf(task.url), baseOf(previous.mirrorUrls.back())) << "run " << run;
    }
    firstBases.insert(baseOf(task.url));
    launcher().OnTransferEvent("fail", "curl perform fail", 0, 0, 0, kArchive, kMd5OfHello);
  }
  // The start stays spread over the base URLs rather than fixed on one.
  EXPECT_GE(firstBases.size(), 2u);
}

TEST_F(LauncherFlow, CompleteArchiveOnDiskIsVerifiedWithoutDownloadingAndUnpacked) {
  WriteFile(kArchive, "hello");
  launcher().StartCheck();
  world_->check.last("needUpdate", kArchive, kMd5OfHello, 5, 5);
  EXPECT_TRUE(world_->downloader.tasks.empty());
  EXPECT_EQ(world_->downloader.remembered.size(), 1u);
  EXPECT_EQ(launcher().Stage(), "cleanRes");
  EXPECT_EQ(Shown().fillWidth, Launcher::kProgressFullWidth);
  EXPECT_EQ(Shown().sizeText, "0k/0k");
  EXPECT_EQ(world_->game.kills, 1);
  for (int i = 0; i < 400 && world_->extractor.Tasks().empty(); ++i) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(launcher().Stage(), "unzip");
  const auto tasks = world_->extractor.Tasks();
  ASSERT_EQ(tasks.size(), 1u);
  EXPECT_EQ(tasks[0].archivePath, kArchive);
  EXPECT_EQ(tasks[0].destination, settings::dataFolder);
  EXPECT_FALSE(Shown().speedVisible);
  EXPECT_EQ(Shown().fillWidth, 0);
}

TEST_F(LauncherFlow, DigestMismatchDeletesTheArchiveAndOffersADownloadAgain) {
  WriteFile(kArchive, "hello");
  world_->dialogs.answers = {platform::kAnswerRetry};
  // Upper-case hexadecimal never matches the digest's lower-case text.
  launcher().VerifyArchive(kArchive, "5D41402ABC4B2A76B9719D911017C592");
  EXPECT_FALSE(fs::exists(kArchive));
  ASSERT_EQ(world_->dialogs.Count(), 1u);
  EXPECT_EQ(world_->dialogs.At(0).text, texts::kDigestMismatch);
  EXPECT_EQ(world_->check.starts, 1);                                      // Retry starts over from the check
  EXPECT_EQ(world_->check.forgotten, std::vector<std::string>{kArchive});  // and asks the server
}

// The digest taken while the archive was written stands for the bytes on disk: the file is not
// read again, so a digest the file's content would not give still passes.
TEST_F(LauncherFlow, VerificationUsesTheDigestTakenWhileWritingUntilTheFileChanges) {
  WriteFile(kArchive, "jello");
  DigestMemo::Remember(kArchive, ArchiveDigests{kMd5OfHello, "", 5});
  launcher().VerifyArchive(kArchive, kMd5OfHello);
  EXPECT_EQ(world_->dialogs.Count(), 0u);
  ASSERT_EQ(world_->extractor.Tasks().size(), 1u);

  // Changed since it was hashed (same size, later time): the file is read and fails.
  DigestMemo::Remember(kArchive, ArchiveDigests{kMd5OfHello, "", 5});
  fs::last_write_time(kArchive, fs::last_write_time(kArchive) + std::chrono::seconds(2));
  world_->dialogs.answers = {platform::kAnswerRetry};
  launcher().VerifyArchive(kArchive, kMd5OfHello);
  ASSERT_EQ(world_->dialogs.Count(), 1u);
  EXPECT_EQ(world_->dialogs.At(0).text, texts::kDigestMismatch);
  EXPECT_FALSE(fs::exists(kArchive));
}

// With a SHA-256 in the file information, the download computes it and the verification holds
// the archive to it as well as to the MD5.
TEST_F(LauncherFlow, ArchiveSha256IsCheckedWhenTheFileInformationGivesOne) {
  world_->check.sha256 = "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824";  // "hello"
  launcher().StartCheck();
  world_->check.last("needUpdate", kArchive, kMd5OfHello, 5000, 0);
  ASSERT_EQ(world_->downloader.tasks.size(), 1u);
  EXPECT_TRUE(world_->downloader.tasks[0].withSha256);

  WriteFile(kArchive, "hello");
  launcher().VerifyArchive(kArchive, kMd5OfHello);
  EXPECT_EQ(world_->dialogs.Count(), 0u);
  EXPECT_EQ(world_->extractor.Tasks().size(), 1u);

  // Same MD5, another SHA-256 (a digest the memo holds for the bytes written): its own box.
  WriteFile(kArchive, "hello");
  DigestMemo::Remember(kArchive, ArchiveDigests{kMd5OfHello, std::string(64, '0'), 5});
  world_->dialogs.answers = {platform::kAnswerRetry};
  launcher().VerifyArchive(kArchive, kMd5OfHello);
  ASSERT_EQ(world_->dialogs.Count(), 1u);
  EXPECT_EQ(world_->dialogs.At(0).text, texts::kSha256Mismatch);
  EXPECT_FALSE(fs::exists(kArchive));
  EXPECT_EQ(world_->check.forgotten, std::vector<std::string>{kArchive});
}

// A memo without the SHA-256 (taken when none was asked for) does not pass a check that needs it.
TEST_F(LauncherFlow, DigestWithoutSha256IsNotTakenWhenOneIsExpected) {
  world_->check.sha256 = std::string(64, 'a');
  launcher().StartCheck();
  WriteFile(kArchive, "hello");
  world_->dialogs.answers = {platform::kAnswerRetry};
  DigestMemo::Remember(kArchive, ArchiveDigests{kMd5OfHello, "", 5});
  world_->check.last("needUpdate", kArchive, kMd5OfHello, 5, 5);  // complete on disk: verified after the delay
  world_->dialogs.WaitForBoxes(1, 2s);
  ASSERT_EQ(world_->dialogs.Count(), 1u);
  EXPECT_EQ(world_->dialogs.At(0).text, texts::kSha256Mismatch);
  EXPECT_TRUE(world_->extractor.Tasks().empty());
}

TEST_F(LauncherFlow, MissingArchiveNeverPassesVerification) {
  world_->dialogs.answers = {platform::kAnswerRetry};
  launcher().VerifyArchive(kArchive, "");
  EXPECT_TRUE(world_->extractor.Tasks().empty());
  EXPECT_EQ(world_->dialogs.Count(), 1u);
}

TEST_F(LauncherFlow, ExtractionThatCannotStartDeletesTheArchive) {
  WriteFile(kArchive, "hello");
  world_->extractor.refuse = true;
  world_->dialogs.answers = {platform::kAnswerRetry};
  launcher().StartUnzip(kArchive);
  EXPECT_FALSE(fs::exists(kArchive));
  ASSERT_EQ(world_->dialogs.Count(), 1u);
  EXPECT_EQ(world_->dialogs.At(0).text, std::string(texts::kUnzipCannotStart) + "no thread left");
}

TEST_F(LauncherFlow, ExtractionProgressAndFailure) {
  launcher().OnUnzipEvent("unzip", "a.txt", 17, 340);
  EXPECT_EQ(Shown().fillWidth, 28);
  EXPECT_EQ(Shown().sizeText, "17/340");
  world_->dialogs.answers = {platform::kAnswerRetry};
  launcher().OnUnzipEvent("fail", "extract file fail: a.txt", 0, 0);
  ASSERT_EQ(world_->dialogs.Count(), 1u);
  EXPECT_EQ(world_->dialogs.At(0).text,
            std::string(texts::kUnzipFailedHead) + settings::dataFolder + texts::kUnzipFailedTail);
}

// A fault of the archive itself is named on a line of its own below the advice, which cannot mend it.
TEST_F(LauncherFlow, ExtractionFailureOfTheArchiveNamesItsCause) {
  const std::string advice = std::string(texts::kUnzipFailedHead) + settings::dataFolder + texts::kUnzipFailedTail;
  const std::pair<std::string, std::string> cases[] = {
      {"unsupported compression method 12 (bzip2): data/x.pak",
       "unsupported compression method 12 (bzip2): data/x.pak"},
      {"extract file fail: x.pak\ncrc mismatch in unzip file: x.pak", "crc mismatch in unzip file: x.pak"},
      {"open zip file fail: MorvanePC1/p.zip", "open zip file fail: MorvanePC1/p.zip"},
      {"create directory fail: Tessarine_MorvanePC1/a/", ""},
      {"extract file fail: kolv.exe", ""},
      // Entry names are UTF-8; the box's text is GBK, and what GBK lacks shows as "?".
      {"crc mismatch in unzip file: 资源/数据😀.pak",
       "crc mismatch in unzip file: \xd7\xca\xd4\xb4/\xca\xfd\xbe\xdd?.pak"},
  };
  for (const auto& [payload, cause] : cases) {
    SCOPED_TRACE(payload);
    world_->dialogs.answers = {platform::kAnswerRetry};
    const std::size_t before = world_->dialogs.Count();
    launcher().OnUnzipEvent("fail", payload, 0, 0);
    ASSERT_EQ(world_->dialogs.Count(), before + 1);
    EXPECT_EQ(world_->dialogs.At(before).text, cause.empty() ? advice : advice + "\n" + cause);
  }
}

TEST_F(LauncherFlow, UnpackedPackageStartsTheGameAndEndsTheLauncher) {
  fs::create_directories(settings::channelId + "/sub");
  WriteFile(settings::channelId + "/sub/part.zip", "x");
  WriteFile(settings::dataFolder + "/" + settings::gameExeName, "game");
  world_->game.running = true;  // freshly unpacked: restarted at once regardless
  launcher().OnUnzipEvent("succ", "", 3, 3);
  EXPECT_FALSE(fs::exists(settings::channelId));
  EXPECT_EQ(launcher().Stage(), "launch");
  EXPECT_EQ(world_->check.saves, 1);
  EXPECT_EQ(world_->game.Starts(), 1);
  EXPECT_EQ(world_->game.arguments, "-a b");
  EXPECT_GE(world_->game.kills, 1);
  EXPECT_EQ(world_->dialogs.Count(), 0u);
  ASSERT_TRUE(Exits().WaitForExit(2s));
  EXPECT_EQ(Exits().exits[0].first, 0);
}

TEST_F(LauncherFlow, RunningGameWithoutUpdateIsRestartedAfterADelay) {
  WriteFile(settings::dataFolder + "/" + settings::gameExeName, "game");
  world_->game.running = true;
  launcher().StartCheck();
  world_->check.last("notNeedUpdate", "", "", 0, 0);
  EXPECT_EQ(world_->game.Starts(), 0);
  ASSERT_TRUE(Exits().WaitForExit(2s));
  EXPECT_EQ(world_->game.Starts(), 1);
}

TEST_F(LauncherFlow, MissingGameIsReportedAndAFailedStartDeletesNothingElse) {
  world_->game.startSucceeds = false;
  launcher().StartLaunch(false);
  ASSERT_EQ(world_->dialogs.Count(), 1u);
  const auto box = world_->dialogs.At(0);
  EXPECT_EQ(box.text, settings::dataFolder + "/" + settings::gameExeName + texts::kFileMissing);
  EXPECT_EQ(box.style, 0x1000u);
  ASSERT_TRUE(Exits().WaitForExit(2s));
}

// The system's reason reaches the player; only a file the system calls no valid program is
// deleted (the next run repairs it), any other refusal keeps it.
TEST_F(LauncherFlow, GameThatCannotStartIsNamedInABoxAndDeletedOnlyWhenDamaged) {
  const std::string game = settings::dataFolder + "/" + settings::gameExeName;
  WriteFile(game, "game");
  world_->game.startSucceeds = false;
  world_->game.failure = platform::ProcessStart{false, false, "Permission denied"};
  launcher().StartGame();
  EXPECT_EQ(ReadFile(game), "game");
  ASSERT_EQ(world_->dialogs.Count(), 1u);
  EXPECT_EQ(world_->dialogs.At(0).text, std::string(texts::kGameStartFailed) + "Permission denied");
  EXPECT_EQ(world_->dialogs.At(0).style, 0x1000u);
  EXPECT_TRUE(Shown().closeVisible);
  ASSERT_TRUE(Exits().WaitForExit(2s));

  world_->game.failure = platform::ProcessStart{false, true, "Exec format error"};
  launcher().StartGame();
  EXPECT_FALSE(fs::exists(game));
  ASSERT_EQ(world_->dialogs.Count(), 2u);
  EXPECT_EQ(world_->dialogs.At(1).text, std::string(texts::kGameStartFailed) + "Exec format error");
}

TEST_F(LauncherFlow, ErrorWhileStartingTheGameShowsCloseButtonAndMessage) {
  WriteFile(settings::dataFolder + "/" + settings::gameExeName, "game");
  world_->game.throwOnStart = true;
  launcher().StartGame();
  EXPECT_FALSE(fs::exists(settings::dataFolder + "/" + settings::gameExeName));
  EXPECT_TRUE(Shown().closeVisible);
  ASSERT_EQ(world_->dialogs.Count(), 1u);
  EXPECT_EQ(world_->dialogs.At(0).text, std::string(texts::kGameStartFailed) + "out of memory");
  ASSERT_TRUE(Exits().WaitForExit(2s));
}

TEST_F(LauncherFlow, NeedUpdateWithoutAnyBaseUrlWaitsInCheck) {
  launcher().BuildChannelUrls({});
  launcher().StartCheck();
  world_->check.last("needUpdate", kArchive, kMd5OfHello, 5000, 0);
  EXPECT_EQ(launcher().Stage(), "check");
  EXPECT_TRUE(world_->downloader.tasks.empty());
}

TEST_F(LauncherFlow, ChannelUrlsGetExactlyOneSlash) {
  launcher().BuildChannelUrls({"http://a/", "http://b", ""});
  EXPECT_EQ(launcher().ChannelUrls(),
            (std::vector<std::string>{"http://a/MorvanePC1", "http://b/MorvanePC1", "/MorvanePC1"}));
}

// The real delays of the flow, within a scheduling tolerance.
class LauncherDelaysReal : public LauncherFlow {
 protected:
  void SetUp() override {
    LauncherFlow::SetUp();
    world_->launcher.SetDelaysForTesting(LauncherDelays{});
  }
  double SecondsUntilExit(std::chrono::steady_clock::time_point start) {
    EXPECT_TRUE(Exits().WaitForExit(5s));
    std::lock_guard<std::mutex> lock(Exits().mutex);
    return std::chrono::duration<double>(Exits().exits.at(0).second - start).count();
  }
};

TEST_F(LauncherDelaysReal, CloseButtonEndsOnceAfterOneSecond) {
  const auto start = std::chrono::steady_clock::now();
  launcher().OnCloseClicked();
  launcher().OnCloseClicked();
  const double seconds = SecondsUntilExit(start);
  EXPECT_GE(seconds, 1.0);
  EXPECT_LT(seconds, 1.6);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(Exits().Count(), 1u);
}

TEST_F(LauncherDelaysReal, StartedGameEndsTheLauncherAfter700ms) {
  WriteFile(settings::dataFolder + "/" + settings::gameExeName, "game");
  const auto start = std::chrono::steady_clock::now();
  launcher().StartGame();
  const double seconds = SecondsUntilExit(start);
  EXPECT_GE(seconds, 0.7);
  EXPECT_LT(seconds, 1.3);
}

TEST_F(LauncherDelaysReal, ErrorAtGameStartEndsAfter600ms) {
  world_->game.throwOnStart = true;
  const auto start = std::chrono::steady_clock::now();
  launcher().StartGame();
  const double seconds = SecondsUntilExit(start);
  EXPECT_GE(seconds, 0.6);
  EXPECT_LT(seconds, 1.2);
}

}  // namespace
