// ProgressAdapter's arithmetic: whole-archive bytes, the expected size, a finite speed.
#include "net/progress_adapter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "package/file_util.h"

namespace {

struct Event {
  std::string status;
  std::string payload;
  std::uint64_t downloaded = 0;
  std::uint64_t expected = 0;
  double speed = 0;
  std::string path;
  std::string digest;
};

class ProgressAdapterTest : public ::testing::Test {
 protected:
  ProgressAdapter Make(std::uint64_t resumeOffset, std::uint64_t zipBytes, std::uint64_t startMs) {
    return ProgressAdapter(
        [this](const std::string& status, const std::string& payload, std::uint64_t downloaded, std::uint64_t expected,
               double speed, const std::string& path, const std::string& digest) {
          events_.push_back({status, payload, downloaded, expected, speed, path, digest});
        },
        "Tessarine_MorvanePC1/pkg.zip", resumeOffset, zipBytes, "0123456789abcdef0123456789abcdef", startMs);
  }

  std::vector<Event> events_;
};

TEST_F(ProgressAdapterTest, AddsTheResumeOffsetAndReportsTheArchiveSizeNotTheTransfersTotal) {
  auto adapter = Make(1000, 5000, NowMs());
  adapter("trans", "", 1500, 4000);
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].status, "trans");
  EXPECT_EQ(events_[0].downloaded, 2500u);
  EXPECT_EQ(events_[0].expected, 5000u);
  EXPECT_EQ(events_[0].path, "Tessarine_MorvanePC1/pkg.zip");
  EXPECT_EQ(events_[0].digest, "0123456789abcdef0123456789abcdef");

  adapter("fail", "curl perform fail, curl_code 28 (Timeout was reached), ret_code 200", 28, 200);
  ASSERT_EQ(events_.size(), 2u);
  EXPECT_EQ(events_[1].status, "fail");
  EXPECT_EQ(events_[1].payload, "curl perform fail, curl_code 28 (Timeout was reached), ret_code 200");
  EXPECT_EQ(events_[1].expected, 5000u);
}

// The download writes from another offset (the start, after a server ignored the range; the
// bytes kept, on the next mirror): the bytes shown count from there, not from the first offset.
TEST_F(ProgressAdapterTest, RestartMovesTheOffsetTheProgressCountsFrom) {
  auto adapter = Make(3000, 5000, NowMs());
  adapter("restart", "", 0, 0);
  adapter("trans", "", 1000, 5000);
  adapter("restart", "", 1000, 0);
  adapter("trans", "", 500, 4000);
  ASSERT_EQ(events_.size(), 2u);  // "restart" only moves the offset
  EXPECT_EQ(events_[0].downloaded, 1000u);
  EXPECT_EQ(events_[1].downloaded, 1500u);
  EXPECT_EQ(events_[1].expected, 5000u);
}

TEST_F(ProgressAdapterTest, SpeedIsBytesPerSecondSinceThePreviousCall) {
  const std::uint64_t start = NowMs() - 2000;
  auto adapter = Make(0, 100000, start);
  adapter("trans", "", 4000, 100000);
  ASSERT_EQ(events_.size(), 1u);
  // 4000 bytes over a little more than two seconds.
  EXPECT_LE(events_[0].speed, 2000.0);
  EXPECT_GT(events_[0].speed, 1900.0);
}

TEST_F(ProgressAdapterTest, SameMillisecondKeepsThePreviousSpeed) {
  // Two calls land in the same millisecond when the clock reads the same before the first and
  // after the second; retry until that happens.
  for (int attempt = 0; attempt < 1000; ++attempt) {
    events_.clear();
    const std::uint64_t before = NowMs();
    auto adapter = Make(0, 100000, before - 1000);
    adapter("trans", "", 1000, 100000);
    adapter("trans", "", 60000, 100000);
    if (NowMs() != before) continue;
    ASSERT_EQ(events_.size(), 2u);
    EXPECT_DOUBLE_EQ(events_[1].speed, events_[0].speed);
    EXPECT_TRUE(std::isfinite(events_[1].speed));
    EXPECT_EQ(events_[1].downloaded, 60000u);
    return;
  }
  GTEST_SKIP() << "never got two calls into one millisecond";
}

TEST_F(ProgressAdapterTest, ClockBehindTheStartAndOddInputsNeverGiveInfOrNan) {
  auto adapter = Make(0, 0, NowMs() + 100000);  // start time ahead of the clock
  adapter("trans", "", 10, 0);
  adapter("trans", "", std::numeric_limits<double>::quiet_NaN(), 0);
  adapter("trans", "", std::numeric_limits<double>::infinity(), 0);
  adapter("trans", "", -5, 0);
  adapter("succ", "", 0, 0);
  ASSERT_EQ(events_.size(), 5u);
  for (const auto& event : events_) {
    EXPECT_TRUE(std::isfinite(event.speed));
    EXPECT_EQ(event.expected, 0u);
  }
  EXPECT_EQ(events_[1].downloaded, 0u);  // NaN counts as nothing received
  EXPECT_EQ(events_[3].downloaded, 0u);
}

TEST_F(ProgressAdapterTest, DownloadedIsSixtyFourBitBeyondFourGibibytes) {
  const std::uint64_t offset = 5ull << 30;
  const std::uint64_t zipBytes = 7ull << 30;
  auto adapter = Make(offset, zipBytes, NowMs() - 1000);
  const double received = static_cast<double>(3ull << 29);  // 1.5 GiB in this transfer
  adapter("trans", "", received, static_cast<double>(2ull << 30));
  ASSERT_EQ(events_.size(), 1u);
  EXPECT_EQ(events_[0].downloaded, offset + (3ull << 29));
  EXPECT_EQ(events_[0].expected, zipBytes);
  EXPECT_GT(events_[0].speed, 1.0e9);
}

}  // namespace
