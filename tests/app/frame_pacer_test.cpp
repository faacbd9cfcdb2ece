#include "app/frame_pacer.h"

#include <gtest/gtest.h>

TEST(FramePacer, PeriodIsASixtiethOfTheFrequencyTruncated) {
  EXPECT_EQ(FramePacer(10000000, 0).Period(), 166666);
  EXPECT_EQ(FramePacer(1000000000, 0).Period(), 16666666);
}

TEST(FramePacer, FrameComesOnlyAfterMoreThanOnePeriod) {
  FramePacer pacer(10000000, 1000);
  double dt = -1;
  EXPECT_FALSE(pacer.FrameDue(1000 + 166666, &dt));
  EXPECT_TRUE(pacer.FrameDue(1000 + 166667, &dt));
  EXPECT_NEAR(dt, 0.0166667, 1e-6);
}

TEST(FramePacer, StallYieldsOneFrameThenRealignsToTheGrid) {
  const std::int64_t period = 166666;
  FramePacer pacer(10000000, 0);
  double dt = 0;
  const std::int64_t afterStall = 1000000 + 1234;  // 0.1 s later: six periods and a bit
  ASSERT_TRUE(pacer.FrameDue(afterStall, &dt));
  EXPECT_NEAR(dt, 0.1001234, 1e-6);
  // No burst: the next instant is not a frame.
  EXPECT_FALSE(pacer.FrameDue(afterStall + 1, &dt));
  // The schedule sits on a whole multiple of the period, so the next frame is due once the
  // counter passes the next multiple plus one period.
  const std::int64_t grid = afterStall - afterStall % period;
  EXPECT_FALSE(pacer.FrameDue(grid + period, &dt));
  EXPECT_TRUE(pacer.FrameDue(grid + period + 1, &dt));
}
