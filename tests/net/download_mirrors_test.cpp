// Archive downloads from nginx configured like the real servers that do not continue a partial
// archive: ranges switched off (max_ranges 0) and an archive shorter than the partial (416).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "net/http_util.h"
#include "tests/net/transfer_recorder.h"
#include "tests/support/nginx_server.h"
#include "tests/support/scratch_dir.h"

namespace {

using testsupport::NginxServer;
using testsupport::ScratchDir;

constexpr std::size_t kArchiveSize = 400 * 1024;

class DownloadMirrorsTest : public ::testing::Test {
 protected:
  // Port 0 answers ranges; port 1 ignores them (whole archive, 200).
  void SetUp() override {
    ASSERT_TRUE(nginx_.Started()) << nginx_.ErrorLog();
    archive_ = PatternBytes(kArchiveSize, 3);
    std::filesystem::create_directories(nginx_.Root() / "MorvanePC1");
    std::ofstream(nginx_.Root() / "MorvanePC1/pkg.zip", std::ios::binary) << archive_;
  }

  TransferCall Download(int port, std::uint64_t offset) {
    ::testing::internal::CaptureStdout();
    HttpUtil::Download({offset, local_, recorder_.Callback(), nginx_.Url(port, "MorvanePC1/pkg.zip")});
    ::testing::internal::GetCapturedStdout();
    const auto finals = recorder_.Finals();
    EXPECT_EQ(finals.size(), 1u);
    return finals.empty() ? TransferCall{} : finals.back();
  }

  NginxServer nginx_{R"(
    server { listen 127.0.0.1:@PORT0@; root @ROOT@; }
    server { listen 127.0.0.1:@PORT1@; root @ROOT@; max_ranges 0; }
  )",
                     2};
  ScratchDir scratch_{"net-download-mirrors"};
  std::string local_ = scratch_.File("pkg.zip");
  TransferRecorder recorder_;
  std::string archive_;
};

TEST_F(DownloadMirrorsTest, RangesOffGivesTheWholeArchiveInOneRequest) {
  WriteFileBytes(local_, archive_.substr(0, 150000));
  EXPECT_EQ(Download(1, 150000).status, "succ");
  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
  ASSERT_EQ(nginx_.WaitForRequests(1, "MorvanePC1/pkg.zip", 1), 1);
  EXPECT_NE(nginx_.LogLines(1).at(0).find(" 200 "), std::string::npos) << nginx_.LogLines(1).at(0);
}

TEST_F(DownloadMirrorsTest, PartialLongerThanTheArchiveIsDroppedAndTheArchiveFetchedOnce) {
  WriteFileBytes(local_, std::string(kArchiveSize + 1, 'x'));
  EXPECT_EQ(Download(0, kArchiveSize + 1).status, "succ");
  EXPECT_TRUE(SameBytes(ReadFileBytes(local_), archive_));
  ASSERT_EQ(nginx_.WaitForRequests(0, "MorvanePC1/pkg.zip", 2), 2);
  EXPECT_NE(nginx_.LogLines(0).at(0).find(" 416 "), std::string::npos) << nginx_.LogLines(0).at(0);
  EXPECT_NE(nginx_.LogLines(0).at(1).find(" 200 "), std::string::npos) << nginx_.LogLines(0).at(1);
}

}  // namespace
