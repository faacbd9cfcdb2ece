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

// The wait a loop makes between frames ends no earlier than the frame is due and no later than
// a millisecond after, also on the realigned grid after a stall.
TEST(FramePacer, WaitUntilDueEndsWhereTheFrameBecomesDue) {
  const std::int64_t frequency = 10000000;  // 100 ns ticks: 10000 a millisecond
  FramePacer pacer(frequency, 0);
  EXPECT_EQ(pacer.MillisecondsUntilDue(0), 17);  // 166667 ticks, rounded up
  EXPECT_EQ(pacer.MillisecondsUntilDue(166666 - 10000), 2);
  EXPECT_EQ(pacer.MillisecondsUntilDue(166666), 1);
  EXPECT_EQ(pacer.MillisecondsUntilDue(166667), 0);
  EXPECT_EQ(pacer.MillisecondsUntilDue(900000), 0);  // overdue
  double dt = 0;
  const std::int64_t afterStall = 1000000 + 1234;
  ASSERT_TRUE(pacer.FrameDue(afterStall, &dt));
  const std::int64_t grid = afterStall - afterStall % pacer.Period();
  const int wait = pacer.MillisecondsUntilDue(afterStall);
  const std::int64_t wakeAt = afterStall + wait * frequency / 1000;
  EXPECT_FALSE(pacer.FrameDue(wakeAt - frequency / 1000, &dt));
  EXPECT_GE(wakeAt, grid + pacer.Period() + 1);
  EXPECT_LT(wakeAt, grid + pacer.Period() + 1 + frequency / 1000);
  EXPECT_TRUE(pacer.FrameDue(wakeAt, &dt));
}

// The frame clock's wake-up is set in 100 ns units: a counter of another rate converts rounded
// up, so the wake-up never comes before the frame is due.
TEST(FramePacer, HundredNanosecondsUntilDueNeverEndsEarly) {
  const std::int64_t frequency = 3579545;  // the ACPI timer's rate
  FramePacer pacer(frequency, 0);
  const std::int64_t period = pacer.Period();
  for (const std::int64_t now : {std::int64_t{0}, std::int64_t{1}, period / 3, period - 1, period}) {
    const std::int64_t wait = pacer.HundredNanosecondsUntilDue(now);
    const std::int64_t wakeAt = now + wait * frequency / 10000000;  // the earliest count then
    double dt = 0;
    FramePacer copy = pacer;
    EXPECT_TRUE(copy.FrameDue(wakeAt, &dt)) << now;
    EXPECT_LE(wait, (period + 1) * 10000000 / frequency + 1) << now;  // and no later than needed
  }
  EXPECT_EQ(pacer.HundredNanosecondsUntilDue(period + 1), 0);
  EXPECT_EQ(pacer.HundredNanosecondsUntilDue(10 * period), 0);
}
