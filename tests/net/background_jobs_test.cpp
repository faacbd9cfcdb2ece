// The package downloader and the request job run their transfers on threads of their own.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/curl_package_downloader.h"
#include "net/request_job.h"
#include "tests/net/transfer_recorder.h"
#include "tests/support/content_server.h"
#include "tests/support/scratch_dir.h"

using testsupport::ContentServer;
using testsupport::Fault;
using testsupport::ScratchDir;

namespace {

TEST(BackgroundJobsTest, DownloaderStartReturnsWhileTheDownloadRunsOnItsOwnThread) {
  ContentServer server;
  ScratchDir scratch("net-jobs");
  const std::string archive = PatternBytes(200000);
  server.AddFile("pkg.zip", archive);
  // The server holds the body back, so the download is certainly still running when Start returns.
  server.SetFault("pkg.zip", Fault::StallAfter(100, std::chrono::milliseconds(1500)));

  TransferRecorder recorder;
  CurlPackageDownloader downloader;
  const auto started = std::chrono::steady_clock::now();
  downloader.Start({0, scratch.File("pkg.zip"), recorder.Callback(), server.Url("pkg.zip")});
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));
  EXPECT_TRUE(recorder.Finals().empty());

  ASSERT_TRUE(recorder.WaitForFinal(std::chrono::seconds(20)));
  const auto finals = recorder.Finals();
  ASSERT_EQ(finals.size(), 1u);
  EXPECT_EQ(finals[0].status, "succ");
  EXPECT_NE(finals[0].thread, std::this_thread::get_id());
  EXPECT_TRUE(SameBytes(ReadFileBytes(scratch.File("pkg.zip")), archive));
}

TEST(BackgroundJobsTest, ConcurrentDownloadsAndRequestsAllFinish) {
  ContentServer server;
  ScratchDir scratch("net-jobs");
  const std::string archive = PatternBytes(400000, 3);
  server.AddFile("pkg.zip", archive);
  server.AddFile("config.json", "{}");

  TransferRecorder downloads[3];
  TransferRecorder requests[3];
  CurlPackageDownloader downloader;
  for (int i = 0; i < 3; ++i) {
    downloader.Start(
        {0, scratch.File("pkg" + std::to_string(i) + ".zip"), downloads[i].Callback(), server.Url("pkg.zip")});
    RunRequest({server.Url("config.json?rand=" + std::to_string(i)), "", requests[i].Callback(), 6000});
  }
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(downloads[i].WaitForFinal(std::chrono::seconds(20)));
    ASSERT_TRUE(requests[i].WaitForFinal(std::chrono::seconds(20)));
    EXPECT_EQ(downloads[i].Finals().at(0).status, "succ");
    EXPECT_EQ(requests[i].Finals().at(0).status, "succ");
    EXPECT_EQ(requests[i].Finals().at(0).payload, "{}");
    EXPECT_TRUE(SameBytes(ReadFileBytes(scratch.File("pkg" + std::to_string(i) + ".zip")), archive));
  }
  EXPECT_EQ(server.RequestCount("config.json"), 3);
}

}  // namespace
