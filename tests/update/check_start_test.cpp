// The whole check from Start: override files, the content server, the cache and the time-out box.
#include <gtest/gtest.h>

#include "app/settings.h"
#include "app/status_words.h"
#include "app/texts.h"
#include "check_fixture.h"
#include "content_server.h"
#include "package/file_util.h"

namespace updatetest {
namespace {

using testsupport::ContentServer;
using testsupport::Fault;
using namespace std::chrono_literals;

// Functions, not globals: the settings are initialised in another translation unit.
std::string ConfigPath() { return settings::channelId + "/config.json"; }
std::string FileInfoPath() { return settings::channelId + "/fileInfo_1_2_3.json"; }
std::string CachePath() { return settings::dataFolder + "/fileInfo_1_2_3.json"; }

// File information of exactly `length` characters (at least 95), padded with spaces.
std::string FileInfoText(std::size_t length) {
  std::string text =
      R"({"zipName":"MorvanePC1/res_1_2_3.zip","zipMd5":"0123456789abcdef0123456789abcdef","zipBytes":4})";
  text.append(length - text.size(), ' ');
  return text;
}

class StartTest : public CheckTest {
 protected:
  void ServeDocuments(std::size_t fileInfoLength = 120) {
    server_.AddFile(ConfigPath(), R"({"lastVersion":"1.2.3","unsupportedVersions":["0.x.x"]})");
    server_.AddFile(FileInfoPath(), FileInfoText(fileInfoLength));
  }
  // Starts a check and waits for its one row.
  Row RunCheck(Check& check) {
    auto recorder = std::make_shared<Recorder>();
    check.Start(RecordInto(recorder));
    EXPECT_TRUE(recorder->WaitFor(1, 10s));
    std::this_thread::sleep_for(50ms);  // a second row would be a fault
    const std::vector<Row> rows = recorder->Rows();
    EXPECT_EQ(1u, rows.size());
    return rows.empty() ? Row{} : rows.front();
  }

  ContentServer server_;
};

void ExpectNeedsPackage123(const Row& row) {
  EXPECT_EQ(status::kNeedUpdate, row.status) << row.first;
  EXPECT_EQ(settings::channelId + "/res_1_2_3.zip", row.first);
  EXPECT_EQ("0123456789abcdef0123456789abcdef", row.second);
  EXPECT_EQ(4, row.size);
  EXPECT_EQ(0, row.offset);
}

TEST_F(StartTest, ServerDocumentsAreEvaluatedAndCachedAtLaunch) {
  ServeDocuments();
  auto check = MakeCheck({server_.BaseUrl()});
  ExpectNeedsPackage123(RunCheck(*check));

  const std::vector<testsupport::RequestLogEntry> config = server_.LogFor(ConfigPath());
  const std::vector<testsupport::RequestLogEntry> fileInfo = server_.LogFor(FileInfoPath());
  ASSERT_EQ(1u, config.size());
  ASSERT_EQ(1u, fileInfo.size());
  for (const auto& entry : {config[0], fileInfo[0]}) {
    ASSERT_EQ(0u, entry.query.rfind("rand=", 0)) << entry.query;
    const int number = std::stoi(entry.query.substr(5));
    EXPECT_GE(number, 0);
    EXPECT_LE(number, 32767);
    EXPECT_EQ("close", entry.connection);
  }

  EXPECT_EQ(CachePath(), check->PendingFileInfo().first);
  EXPECT_FALSE(std::filesystem::exists(CachePath()));  // only the launch writes the cache
  check->SaveLastFileInfo();
  EXPECT_EQ(FileInfoText(120), FileUtil::ReadAll(CachePath()));
  EXPECT_EQ("", check->PendingFileInfo().first);
  EXPECT_EQ("", check->PendingFileInfo().second);

  // Once the package is installed, the next run takes the cached file information.
  SetRecord(settings::channelId + "/res_1_2_3.zip", "0123456789abcdef0123456789abcdef");
  server_.SetFault(FileInfoPath(), Fault::Status(500));
  auto nextRun = MakeCheck({server_.BaseUrl()});
  // The record names the package and it lists no files: installed.
  EXPECT_EQ(status::kNotNeedUpdate, RunCheck(*nextRun).status);
  EXPECT_EQ(1, server_.RequestCount(FileInfoPath()));
  EXPECT_EQ(2, server_.RequestCount(ConfigPath()));
  // Cached file information is not written back.
  EXPECT_EQ("", nextRun->PendingFileInfo().first);
}

TEST_F(StartTest, ShortFileInformationIsNotCached) {
  ServeDocuments(99);
  auto check = MakeCheck({server_.BaseUrl()});
  RunCheck(*check);
  check->SaveLastFileInfo();
  EXPECT_FALSE(std::filesystem::exists(CachePath()));
  EXPECT_EQ(CachePath(), check->PendingFileInfo().first);  // left pending

  server_.AddFile(FileInfoPath(), FileInfoText(100));
  RunCheck(*check);
  check->SaveLastFileInfo();
  EXPECT_EQ(FileInfoText(100), FileUtil::ReadAll(CachePath()));
}

TEST_F(StartTest, CacheWriteWithoutDataFolderIsSkipped) {
  ServeDocuments();
  auto check = MakeCheck({server_.BaseUrl()});
  RunCheck(*check);
  std::filesystem::remove_all(settings::dataFolder);
  check->SaveLastFileInfo();
  EXPECT_FALSE(std::filesystem::exists(CachePath()));
  EXPECT_EQ("", check->PendingFileInfo().first);
  EXPECT_EQ("", check->PendingFileInfo().second);
}

TEST_F(StartTest, LocalFileInfoBypassesBothDocuments) {
  ServeDocuments();
  WriteFile(settings::localFileInfoName, FileInfoText(150));
  WriteFile(settings::localConfigName, R"({"lastVersion":"1.2.3"})");
  auto check = MakeCheck({server_.BaseUrl()});
  ExpectNeedsPackage123(RunCheck(*check));
  EXPECT_TRUE(server_.Log().empty());
  // Nothing to cache: no path was set.
  check->SaveLastFileInfo();
  EXPECT_FALSE(std::filesystem::exists(CachePath()));
  EXPECT_EQ(FileInfoText(150), check->PendingFileInfo().second);
}

TEST_F(StartTest, LocalConfigBypassesOnlyTheConfigurationRequest) {
  ServeDocuments();
  WriteFile(settings::localConfigName, R"({"lastVersion":"1.2.3"})");
  auto check = MakeCheck({server_.BaseUrl()});
  ExpectNeedsPackage123(RunCheck(*check));
  EXPECT_EQ(0, server_.RequestCount(ConfigPath()));
  EXPECT_EQ(1, server_.RequestCount(FileInfoPath()));
}

TEST_F(StartTest, LocalConfigThatIsNotAnObjectReportsAtOnce) {
  WriteFile(settings::localConfigName, R"(["1.2.3"])");
  auto recorder = std::make_shared<Recorder>();
  MakeCheck({server_.BaseUrl()})->Start(RecordInto(recorder));
  // The override path runs on the calling thread: the row is there when Start returns.
  ASSERT_EQ(1u, recorder->Rows().size());
  EXPECT_EQ("error", recorder->Rows()[0].status);
  EXPECT_EQ(std::string(texts::kCheckFileError) + "JsonUtil::ToObject Error", recorder->Rows()[0].first);
  EXPECT_TRUE(server_.Log().empty());
}

TEST_F(StartTest, ServerConfigurationThatIsNotAnObjectReportsAnError) {
  server_.AddFile(ConfigPath(), "<html>maintenance</html>");
  auto check = MakeCheck({server_.BaseUrl()});
  const Row row = RunCheck(*check);
  EXPECT_EQ("error", row.status);
  EXPECT_EQ(std::string(texts::kCheckFileError) + "JsonUtil::ToObject Error", row.first);
}

TEST_F(StartTest, TimedOutConfigurationIsRetriedFromTheStart) {
  DialogAndExitCapture capture;
  ServeDocuments();
  server_.SetFault(ConfigPath(), Fault::Status(404));
  // The player clicks Retry after the server has come back.
  capture.Dialogs().Script(platform::kAnswerRetry, [this] { server_.ClearFault(ConfigPath()); });
  auto check = MakeCheck({server_.BaseUrl()});
  ExpectNeedsPackage123(RunCheck(*check));

  const auto shown = capture.Dialogs().ShownBoxes();
  ASSERT_EQ(1u, shown.size());
  EXPECT_EQ(texts::kRequestTimeoutText, shown[0].text);
  EXPECT_EQ(texts::kRequestTimeoutCaption, shown[0].caption);
  EXPECT_EQ(0x1015u, shown[0].style);
  EXPECT_EQ(1, capture.Dialogs().FrontRequests());
  EXPECT_TRUE(splash_.Snapshot().closeVisible);
  // Every attempt failed until the budget was spent, then one fresh request succeeded.
  const auto config = server_.LogFor(ConfigPath());
  ASSERT_GE(config.size(), 3u);
  EXPECT_EQ(404, config[config.size() - 2].status);
  EXPECT_EQ(200, config.back().status);
}

TEST_F(StartTest, TimedOutFileInformationIsRetriedWithTheSameConfiguration) {
  DialogAndExitCapture capture;
  ServeDocuments();
  server_.SetFault(FileInfoPath(), Fault::Status(408));
  capture.Dialogs().Script(platform::kAnswerRetry, [this] { server_.ClearFault(FileInfoPath()); });
  auto check = MakeCheck({server_.BaseUrl()});
  ExpectNeedsPackage123(RunCheck(*check));
  EXPECT_EQ(1, server_.RequestCount(ConfigPath()));  // the configuration is not fetched again
  EXPECT_GE(server_.RequestCount(FileInfoPath()), 3);
  EXPECT_EQ(1u, capture.Dialogs().ShownBoxes().size());
}

TEST_F(StartTest, CancelInTheTimeoutBoxEndsTheProcess) {
  DialogAndExitCapture capture;
  capture.Dialogs().Script(platform::kAnswerCancel);
  server_.SetFault(ConfigPath(), Fault::Status(500));
  auto recorder = std::make_shared<Recorder>();
  auto check = MakeCheck({server_.BaseUrl()});
  check->Start(RecordInto(recorder));
  EXPECT_EQ(0, capture.WaitForExit(10s));
  EXPECT_TRUE(recorder->Rows().empty());
  EXPECT_TRUE(splash_.Snapshot().closeVisible);
  // The exit parked the failover thread, which holds only the callback, never the check;
  // keep the check alive anyway for any straggler.
  static std::vector<std::unique_ptr<Check>>* parked = new std::vector<std::unique_ptr<Check>>();
  parked->push_back(std::move(check));
}

}  // namespace
}  // namespace updatetest
