// The window thread's wait between frames: it ends for a message, also one already peeked at,
// and otherwise not before its time.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "platform/clock.h"
#include "platform/win32/frame_wait.h"

namespace {

double MillisecondsSince(std::int64_t start) {
  return static_cast<double>(platform::PerformanceCounter() - start) * 1000.0 /
         static_cast<double>(platform::PerformanceFrequency());
}

void DrainQueue() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
}

constexpr int kLongWaitMs = 10000;

TEST(FrameWait, EndsWhenAnotherThreadPostsAMessage) {
  DrainQueue();
  const DWORD self = GetCurrentThreadId();
  std::thread poster([self] {
    platform::SleepMs(50);
    PostThreadMessageW(self, WM_APP, 0, 0);
  });
  platform::win32::FrameWait wait;
  const std::int64_t start = platform::PerformanceCounter();
  wait.Wait(kLongWaitMs);
  const double waited = MillisecondsSince(start);
  poster.join();
  EXPECT_LT(waited, kLongWaitMs / 2);
  MSG message{};
  EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_APP, WM_APP, PM_REMOVE));
}

// The frame loop peeks before it waits: a message it saw but left queued must not be slept on.
TEST(FrameWait, EndsAtOnceForAMessageAlreadyPeekedAt) {
  DrainQueue();
  ASSERT_TRUE(PostThreadMessageW(GetCurrentThreadId(), WM_APP, 0, 0));
  MSG message{};
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE));
  platform::win32::FrameWait wait;
  const std::int64_t start = platform::PerformanceCounter();
  wait.Wait(kLongWaitMs);
  EXPECT_LT(MillisecondsSince(start), kLongWaitMs / 2);
  DrainQueue();
}

TEST(FrameWait, WithNothingQueuedLastsItsTime) {
  DrainQueue();
  platform::win32::FrameWait wait;
  for (const int milliseconds : {1, 17, 40}) {
    const std::int64_t start = platform::PerformanceCounter();
    wait.Wait(milliseconds);
    const double waited = MillisecondsSince(start);
    // A timer may end a fraction of a millisecond early; never a whole frame's worth.
    EXPECT_GE(waited, milliseconds - 1.0) << milliseconds << " ms";
    EXPECT_LT(waited, milliseconds + 1000.0) << milliseconds << " ms";
  }
}

// The frame clock: armed once, it wakes the thread every 1/60 s on its own; armed again, the
// wake-ups armed before are gone, also one that came while nobody waited (after a stall).
TEST(FrameWait, TheArmedClockWakesSixtyTimesASecondAndArmingAgainReplacesIt) {
  DrainQueue();
  platform::win32::FrameWait wait;
  constexpr std::int64_t kFrame = 10'000'000 / 60;
  if (!wait.Arm(kFrame)) GTEST_SKIP() << "no high-resolution waitable timers";
  constexpr int kWakeUps = 30;
  const std::int64_t start = platform::PerformanceCounter();
  int byClock = 0;
  for (int i = 0; i < kWakeUps; ++i) byClock += wait.Wait(kLongWaitMs) ? 1 : 0;
  const double elapsed = MillisecondsSince(start);
  EXPECT_EQ(byClock, kWakeUps);
  // Wake-ups keep to their schedule however late one of them is taken: the span is the
  // schedule's, plus what the last one was late.
  EXPECT_GT(elapsed, kWakeUps * 1000.0 / 60 - 2);
  EXPECT_LT(elapsed, kWakeUps * 1000.0 / 60 + 100);

  ASSERT_TRUE(wait.Arm(10'000));  // in a millisecond
  platform::SleepMs(40);          // it comes, and the next two, with nobody waiting
  ASSERT_TRUE(wait.Arm(kLongWaitMs * 10'000LL));
  const std::int64_t again = platform::PerformanceCounter();
  EXPECT_FALSE(wait.Wait(60)) << "a wake-up armed before ended the wait";
  EXPECT_GE(MillisecondsSince(again), 59.0);
}

}  // namespace
