// Pieces of an archive fetched by byte ranges from nginx on 127.0.0.1, and from the in-process
// server where a connection must be cut half-way.
#include "net/range_fetch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/net/transfer_recorder.h"
#include "tests/support/content_server.h"
#include "tests/support/nginx_server.h"
#include "tests/support/scratch_dir.h"

namespace {

using testsupport::ContentServer;
using testsupport::Fault;
using testsupport::NginxServer;
using testsupport::ScratchDir;

constexpr std::size_t kArchiveSize = 3 * 1024 * 1024;
const char* const kPath = "MorvanePC1/pkg.zip";

class RangeFetchTest : public ::testing::Test {
 protected:
  // Port 0 serves ranges, port 1 ignores them, port 2 answers 404.
  void SetUp() override {
    ASSERT_TRUE(nginx_.Started()) << nginx_.ErrorLog();
    archive_ = PatternBytes(kArchiveSize, 5);
    std::filesystem::create_directories(nginx_.Root() / "MorvanePC1");
    WriteFileBytes((nginx_.Root() / kPath).string(), archive_);
  }

  RangeFetchResult Fetch(const std::vector<std::string>& urls, std::vector<RangePiece>& pieces,
                         std::uint64_t archiveBytes = kArchiveSize) {
    RangeFetchTask task;
    task.urls = urls;
    task.archiveBytes = archiveBytes;
    task.stallSeconds = 5;
    task.progress = [this](std::uint64_t fetched) { progress_.push_back(fetched); };
    ::testing::internal::CaptureStdout();
    RangeFetchResult result = FetchRanges(task, pieces);
    output_ = ::testing::internal::GetCapturedStdout();
    return result;
  }

  std::string Slice(std::uint64_t first, std::uint64_t last) const { return archive_.substr(first, last - first + 1); }

  NginxServer nginx_{R"(
    server { listen 127.0.0.1:@PORT0@; root @ROOT@; }
    server { listen 127.0.0.1:@PORT1@; root @ROOT@; max_ranges 0; }
    server { listen 127.0.0.1:@PORT2@; root @ROOT@; location / { return 404; } }
  )",
                     3};
  ScratchDir scratch_{"net-range-fetch"};
  std::string archive_;
  std::vector<std::uint64_t> progress_;
  std::string output_;
};

TEST_F(RangeFetchTest, EachPieceHoldsExactlyItsBytesAndNothingElseIsSent) {
  std::vector<RangePiece> pieces{
      {0, 0, "", ""}, {1000, 700000, scratch_.File("a.range"), ""}, {kArchiveSize - 22, kArchiveSize - 1, "", ""}};
  const RangeFetchResult result = Fetch({nginx_.Url(0, kPath)}, pieces);
  ASSERT_EQ(result.outcome, RangeFetchOutcome::kDone) << result.reason << output_;
  EXPECT_EQ(pieces[0].bytes, Slice(0, 0));
  EXPECT_TRUE(SameBytes(ReadFileBytes(pieces[1].path), Slice(1000, 700000)));
  EXPECT_TRUE(pieces[1].bytes.empty());
  EXPECT_EQ(pieces[2].bytes, Slice(kArchiveSize - 22, kArchiveSize - 1));
  const std::uint64_t bodies = 1 + 699001 + 22;
  EXPECT_EQ(result.fetchedBytes, bodies);
  ASSERT_FALSE(progress_.empty());
  EXPECT_EQ(progress_.back(), bodies);
  for (std::size_t at = 1; at < progress_.size(); ++at) EXPECT_LE(progress_[at - 1], progress_[at]);
  // One request per piece, each answered 206 with its range; headers aside, the bytes nginx
  // sent are the pieces' bytes.
  ASSERT_EQ(nginx_.WaitForRequests(0, kPath, 3), 3);
  const auto lines = nginx_.LogLines(0);
  EXPECT_NE(lines[1].find(" 206 "), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"bytes=1000-700000\""), std::string::npos) << lines[1];
  const std::uint64_t sent = nginx_.BytesSent(0, kPath);
  EXPECT_GE(sent, bodies);
  EXPECT_LT(sent, bodies + 3 * 1024);
}

TEST_F(RangeFetchTest, ServerThatIgnoresRangesIsRefusedOnItsHeadersWithTheReason) {
  std::vector<RangePiece> pieces{{kArchiveSize - 100, kArchiveSize - 1, scratch_.File("end.range"), ""}};
  const RangeFetchResult result = Fetch({nginx_.Url(1, kPath), nginx_.Url(0, kPath)}, pieces);
  EXPECT_EQ(result.outcome, RangeFetchOutcome::kUnusable);
  EXPECT_NE(result.reason.find("whole archive (200)"), std::string::npos) << result.reason;
  // Nothing of the whole body was kept, and no other server was asked: the whole archive from
  // this one is the way on.
  EXPECT_EQ(ReadFileBytes(pieces[0].path), "");
  EXPECT_TRUE(progress_.empty());
  EXPECT_EQ(result.fetchedBytes, 0u);
  EXPECT_EQ(nginx_.RequestCount(0), 0);
}

TEST_F(RangeFetchTest, ArchiveOfAnotherSizeOnTheServerIsRefused) {
  std::vector<RangePiece> pieces{{10, 20, "", ""}};
  const RangeFetchResult result = Fetch({nginx_.Url(0, kPath)}, pieces, kArchiveSize + 1);
  EXPECT_EQ(result.outcome, RangeFetchOutcome::kUnusable);
  EXPECT_NE(result.reason.find("Content-Range \"bytes 10-20/" + std::to_string(kArchiveSize) + "\""), std::string::npos)
      << result.reason;
  EXPECT_TRUE(pieces[0].bytes.empty());

  // Shorter than the range asked for: 416 says so.
  std::vector<RangePiece> past{{kArchiveSize, kArchiveSize + 5, "", ""}};
  const RangeFetchResult short_ = Fetch({nginx_.Url(0, kPath)}, past, kArchiveSize + 6);
  EXPECT_EQ(short_.outcome, RangeFetchOutcome::kUnusable);
  EXPECT_NE(short_.reason.find("(416"), std::string::npos) << short_.reason;
}

TEST_F(RangeFetchTest, CutConnectionGoesOnAtTheNextUrlAfterTheBytesKept) {
  ContentServer cutting;
  cutting.AddFile(kPath, archive_);
  cutting.SetFault(kPath, Fault::CloseAfter(300000));
  std::vector<RangePiece> pieces{{5000, 1500000, scratch_.File("a.range"), ""}, {2000000, 2100000, "", ""}};
  const RangeFetchResult result = Fetch({cutting.Url(kPath), nginx_.Url(0, kPath)}, pieces);
  ASSERT_EQ(result.outcome, RangeFetchOutcome::kDone) << result.reason << output_;
  EXPECT_TRUE(SameBytes(ReadFileBytes(pieces[0].path), Slice(5000, 1500000)));
  EXPECT_TRUE(SameBytes(pieces[1].bytes, Slice(2000000, 2100000)));
  EXPECT_EQ(result.urlIndex, 1u);
  // The cut piece went on from exactly where the first server stopped; the next piece came
  // from the server that took over.
  ASSERT_EQ(nginx_.WaitForRequests(0, kPath, 2), 2);
  const auto lines = nginx_.LogLines(0);
  EXPECT_NE(lines[0].find("\"bytes=305000-1500000\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("\"bytes=2000000-2100000\""), std::string::npos) << lines[1];
  EXPECT_EQ(cutting.RequestCount(kPath), 1);
  EXPECT_EQ(result.fetchedBytes, (1500000 - 5000 + 1) + (2100000 - 2000000 + 1));
}

TEST_F(RangeFetchTest, EveryUrlFailingEndsWithTheLastReason) {
  std::vector<RangePiece> pieces{{0, 99, "", ""}};
  const RangeFetchResult result = Fetch({nginx_.Url(2, kPath), nginx_.Url(2, "other.zip")}, pieces);
  EXPECT_EQ(result.outcome, RangeFetchOutcome::kFailed);
  EXPECT_NE(result.reason.find("ret_code 404"), std::string::npos) << result.reason;
  EXPECT_NE(result.reason.find("other.zip"), std::string::npos) << result.reason;
  EXPECT_EQ(nginx_.WaitForRequests(2, "", 2), 2);

  // A piece whose file cannot be made ends the fetch before any server is asked.
  std::vector<RangePiece> unwritable{{0, 99, scratch_.File("missing/folder/a.range"), ""}};
  const RangeFetchResult local = Fetch({nginx_.Url(0, kPath)}, unwritable);
  EXPECT_EQ(local.outcome, RangeFetchOutcome::kFailed);
  EXPECT_NE(local.reason.find("can not open local file"), std::string::npos) << local.reason;
  EXPECT_EQ(nginx_.RequestCount(0), 0);
}

}  // namespace
