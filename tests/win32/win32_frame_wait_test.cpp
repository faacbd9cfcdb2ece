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

}  // namespace
