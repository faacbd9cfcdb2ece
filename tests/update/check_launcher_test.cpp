// The real check in the launcher's "check" stage, against the content server: the outcome
// drives the next stage, and the launch stage writes the cache.
#include <gtest/gtest.h>

#include <atomic>

#include "app/launcher.h"
#include "app/settings.h"
#include "app/status_words.h"
#include "app/texts.h"
#include "check_fixture.h"
#include "content_server.h"
#include "package/file_util.h"

namespace updatetest {
namespace {

using testsupport::ContentServer;
using namespace std::chrono_literals;

// Records what the later stages are asked to do; none of them does real work here.
struct StageRecorder : PackageDownloader, PackageExtractor, GameControl {
  std::mutex mutex;
  std::vector<DownloadTask> downloads;
  std::vector<std::pair<std::string, std::string>> remembered;
  int gameStarts = 0;
  bool cacheWrittenBeforeGameStart = false;
  std::string cachePath;

  void RememberPackage(const std::string& path, const std::string& digest) override {
    std::lock_guard<std::mutex> lock(mutex);
    remembered.emplace_back(path, digest);
  }
  void Start(DownloadTask task) override {
    std::lock_guard<std::mutex> lock(mutex);
    downloads.push_back(std::move(task));
  }
  void Start(UnzipTask) override { ADD_FAILURE() << "nothing to unpack"; }
  void KillGameProcesses() override {}
  bool IsGameRunning() override { return false; }
  std::string BuildArgumentString() override { return ""; }
  platform::ProcessStart CreateGameProcess(const std::string&) override {
    std::lock_guard<std::mutex> lock(mutex);
    ++gameStarts;
    cacheWrittenBeforeGameStart = std::filesystem::exists(cachePath);
    return platform::ProcessStart{true, false, {}};
  }
};

class LauncherCheckTest : public CheckTest {
 protected:
  LauncherCheckTest() {
    stages_.cachePath = settings::dataFolder + "/fileInfo_1_2_3.json";
    server_.AddFile(settings::channelId + "/config.json", R"({"lastVersion":"1.2.3"})");
    std::string info = R"({"zipName":")" + settings::channelId +
                       R"(/res_1_2_3.zip","zipMd5":"0123456789abcdef0123456789abcdef","zipBytes":2000,)"
                       R"("fileNameList":["kolv.exe"]})";
    info.append(120, ' ');
    server_.AddFile(settings::channelId + "/fileInfo_1_2_3.json", info);
    check_ = MakeCheck({server_.BaseUrl()});
    LauncherServices services;
    services.checker = check_.get();
    services.downloader = &stages_;
    services.extractor = &stages_;
    services.game = &stages_;
    launcher_ = std::make_unique<Launcher>(services, &splash_);
    launcher_->BuildChannelUrls({server_.BaseUrl()});
  }

  // Waits until `done` holds, polling the recorder under its lock.
  template <typename Predicate>
  bool WaitUntil(Predicate done) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard<std::mutex> lock(stages_.mutex);
        if (done()) return true;
      }
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }

  DialogAndExitCapture capture_;
  ContentServer server_;
  StageRecorder stages_;
  std::unique_ptr<Check> check_;
  std::unique_ptr<Launcher> launcher_;
};

TEST_F(LauncherCheckTest, InstalledPackageLaunchesAndWritesTheCache) {
  SetRecord(settings::channelId + "/res_1_2_3.zip", "0123456789abcdef0123456789abcdef");
  WriteFile(settings::dataFolder + "/kolv.exe", "game");
  launcher_->StartCheck();
  ASSERT_TRUE(WaitUntil([&] { return stages_.gameStarts == 1; }));
  EXPECT_TRUE(stages_.cacheWrittenBeforeGameStart);
  EXPECT_EQ("launch", launcher_->Stage());
  EXPECT_EQ(0, capture_.WaitForExit(5s));  // the launcher ends itself after starting the game
  EXPECT_TRUE(stages_.downloads.empty());
  EXPECT_FALSE(std::filesystem::exists(settings::channelId));  // the download folder is removed
}

TEST_F(LauncherCheckTest, PartialArchiveIsResumed) {
  SetRecord(settings::channelId + "/res_1_2_3.zip", "0123456789abcdef0123456789abcdef");
  WriteFile(settings::channelId + "/res_1_2_3.zip", std::string(700, 'p'));
  launcher_->StartCheck();
  ASSERT_TRUE(WaitUntil([&] { return stages_.downloads.size() == 1; }));
  std::lock_guard<std::mutex> lock(stages_.mutex);
  EXPECT_EQ(700u, stages_.downloads[0].resumeOffset);
  EXPECT_EQ(settings::channelId + "/res_1_2_3.zip", stages_.downloads[0].localPath);
  EXPECT_EQ(server_.Url(settings::channelId + "/res_1_2_3.zip"), stages_.downloads[0].url);
  EXPECT_EQ("download", launcher_->Stage());
  EXPECT_FALSE(std::filesystem::exists(stages_.cachePath));  // only the launch writes it
  std::this_thread::sleep_for(100ms);                        // let the check's thread leave the launcher before it goes
}

TEST_F(LauncherCheckTest, MalformedFileInformationOffersRetry) {
  server_.AddFile(settings::channelId + "/fileInfo_1_2_3.json", R"({"zipName":"../../res_1_2_3.zip"})");
  capture_.Dialogs().Script(platform::kAnswerCancel);
  launcher_->StartCheck();
  EXPECT_EQ(0, capture_.WaitForExit(10s));
  const auto shown = capture_.Dialogs().ShownBoxes();
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ(0u, shown[0].text.rfind(texts::kCheckFileError, 0));
  EXPECT_NE(std::string::npos, shown[0].text.find("../../res_1_2_3.zip"));
  EXPECT_EQ(0x1005u, shown[0].style);
  std::lock_guard<std::mutex> lock(stages_.mutex);
  EXPECT_TRUE(stages_.downloads.empty());
}

}  // namespace
}  // namespace updatetest
