// The archive download over several mirrors, against nginx configured like the mirrors that fail
// players in the field: one trickling under the stall window (limit_rate), one answering 404,
// and one whose connections never complete. The next mirror must take
// over and resume after the bytes that arrived, each mirror tried once.
#include "net/archive_failover.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/net/transfer_recorder.h"
#include "tests/support/hung_listener.h"
#include "tests/support/nginx_server.h"
#include "tests/support/scratch_dir.h"

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testsupport::HungListener;
using testsupport::NginxServer;
using testsupport::ScratchDir;

constexpr std::size_t kArchiveSize = 256 * 1024;
constexpr long kStallSeconds = 2;
const char* const kPath = "MorvanePC1/pkg.zip";

class ArchiveFailoverTest : public ::testing::Test {
 protected:
  // Port 0 serves the archive well; port 1 trickles it at 200 bytes a second after the first
  // 64 KiB; port 2 answers 404.
  void SetUp() override {
    ASSERT_TRUE(nginx_.Started()) << nginx_.ErrorLog();
    archive_ = PatternBytes(kArchiveSize, 7);
    std::filesystem::create_directories(nginx_.Root() / "MorvanePC1");
    std::ofstream(nginx_.Root() / kPath, std::ios::binary) << archive_;
  }

  TransferCall Download(const std::vector<std::string>& urls, std::uint64_t offset = 0) {
    DownloadTask task;
    task.resumeOffset = offset;
    task.localPath = local_;
    task.callback = recorder_.Callback();
    task.url = urls.front();
    task.mirrorUrls.assign(urls.begin() + 1, urls.end());
    task.stallSeconds = kStallSeconds;
    task.archiveBytes = kArchiveSize;
    task.maxBodyBytes = kArchiveSize;
    ::testing::internal::CaptureStdout();
    const auto started = steady_clock::now();
    DownloadFromMirrors(task);
    elapsed_ = std::chrono::duration_cast<milliseconds>(steady_clock::now() - started);
    output_ = ::testing::internal::GetCapturedStdout();
    const auto finals = recorder_.Finals();
    EXPECT_EQ(finals.size(), 1u) << output_;
    EXPECT_TRUE(recorder_.FinalIsLast());
    return finals.empty() ? TransferCall{} : finals.back();
  }

  // The Range header nginx logged for the only request on port `index`.
  std::string OnlyRange(int index) {
    EXPECT_EQ(nginx_.WaitForRequests(index, kPath, 1), 1);
    const auto lines = nginx_.LogLines(index);
    if (lines.empty()) return "";
    std::string range = lines.back().substr(lines.back().rfind(' ') + 1);
    if (range.size() >= 2 && range.front() == '"') range = range.substr(1, range.size() - 2);
    return range;
  }

  NginxServer nginx_{R"(
    server { listen 127.0.0.1:@PORT0@; root @ROOT@; }
    server { listen 127.0.0.1:@PORT1@; root @ROOT@; limit_rate_after 64k; limit_rate 200; }
    server { listen 127.0.0.1:@PORT2@; root @ROOT@; location / { return 404; } }
  )",
                     3};
  ScratchDir scratch_{"net-archive-failover"};
  std::string local_ = scratch_.File("pkg.zip");
  TransferRecorder recorder_;
  std::string archive_;
  milliseconds elapsed_{0};
  std::string output_;
};

TEST_F(ArchiveFailoverTest, TricklingMirrorIsLeftAfterTheStallWindowAndTheNextResumesItsBytes) {
  const auto final = Download({nginx_.Url(1, kPath), nginx_.Url(0, kPath)});
  EXPECT_EQ(final.status, "succ") << output_;
  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
  EXPECT_GE(elapsed_, milliseconds(kStallSeconds * 1000));
  // libcurl measures the rate over its last five seconds, so the burst before the trickle counts
  // that long.
  EXPECT_LT(elapsed_, milliseconds(kStallSeconds * 1000 + 9000));
  // The healthy mirror was asked only for what the trickling one had not sent.
  const std::string range = OnlyRange(0);
  ASSERT_NE(range, "-") << nginx_.LogLines(0).back();
  EXPECT_GE(std::stoull(range.substr(6)), 64u * 1024) << range;
  // Progress went on from the bytes kept, never back to 0.
  const auto calls = recorder_.Calls();
  bool restartSeen = false;
  for (const auto& call : calls) restartSeen |= call.status == "restart" && call.first >= 64 * 1024;
  EXPECT_TRUE(restartSeen);
}

TEST_F(ArchiveFailoverTest, MissingOrUnreachableMirrorCostsOneAttemptEach) {
  HungListener hung;
  const std::string hungUrl = hung.BaseUrl() + kPath;
  const auto final = Download({nginx_.Url(2, kPath), hungUrl, nginx_.Url(0, kPath)});
  EXPECT_EQ(final.status, "succ") << output_;
  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
  EXPECT_EQ(nginx_.WaitForRequests(2, kPath, 1), 1);
  EXPECT_EQ(OnlyRange(0), "-");  // nothing kept from the 404: the whole archive
  // The hung mirror costs its connection's window, no more.
  EXPECT_LT(elapsed_, milliseconds(kStallSeconds * 1000 + 4000));
  EXPECT_NE(output_.find("ret_code 404"), std::string::npos) << output_;
  EXPECT_NE(output_.find("curl_code 28"), std::string::npos) << output_;
}

TEST_F(ArchiveFailoverTest, EveryMirrorFailingGivesOneFailWithTheLastOutcomeAfterOneAttemptEach) {
  const auto final = Download({nginx_.Url(2, kPath), nginx_.Url(1, kPath), nginx_.Url(2, "MorvanePC1/other.zip")});
  EXPECT_EQ(final.status, "fail");
  EXPECT_EQ(final.second, 404);
  EXPECT_EQ(final.payload, "curl perform fail, curl_code 0 (No error), ret_code 404");
  EXPECT_EQ(nginx_.WaitForRequests(2, kPath, 1), 1);
  EXPECT_EQ(nginx_.WaitForRequests(1, kPath, 1), 1);
  EXPECT_EQ(nginx_.WaitForRequests(2, "MorvanePC1/other.zip", 1), 1);
  // What the trickling mirror delivered stays for the next run to resume.
  const std::string kept = ReadFileBytes(local_);
  EXPECT_GE(kept.size(), 64u * 1024);
  EXPECT_TRUE(SameBytes(kept, archive_.substr(0, kept.size())));
}

TEST_F(ArchiveFailoverTest, LocalFileThatCannotBeOpenedTriesNoMirror) {
  local_ = scratch_.File("no-such-folder/pkg.zip");
  const auto final = Download({nginx_.Url(0, kPath), nginx_.Url(2, kPath)});
  EXPECT_EQ(final.status, "fail");
  EXPECT_EQ(final.payload, "can not open local file " + local_);
  EXPECT_EQ(nginx_.RequestCount(0), 0);
  EXPECT_EQ(nginx_.RequestCount(2), 0);
}

}  // namespace
