// The splash's frame loop under Wine: what is queued is dispatched before the next frame, frames
// keep to the sixtieth of a second, and a stall gives one late frame rather than a burst.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/win32/frame_loop.h"

namespace {

std::string* events = nullptr;  // 'm' per message the window got, 'f' per frame

LRESULT CALLBACK RecordingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP && events) events->push_back('m');
  return DefWindowProcW(window, message, wParam, lParam);
}

// A message-only window whose procedure notes each WM_APP it gets.
class FrameLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &RecordingProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"FrameLoopTest";
    RegisterClassW(&windowClass);  // a second test finds it registered
    window = CreateWindowExW(0, L"FrameLoopTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                             nullptr);
    ASSERT_NE(window, nullptr);
    events = &recorded;
  }
  void TearDown() override {
    events = nullptr;
    DestroyWindow(window);
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  void Post(int count) {
    for (int i = 0; i < count; ++i) ASSERT_TRUE(PostMessageW(window, WM_APP, 0, 0));
  }

  HWND window = nullptr;
  std::string recorded;
};

TEST_F(FrameLoopTest, EverythingQueuedIsDispatchedBeforeTheNextFrame) {
  Post(5);
  int frames = 0;
  const int exitCode = platform::win32::RunFrameLoop([&](double) {
    recorded.push_back('f');
    ++frames;
    if (frames == 1) Post(3);  // queued during a frame: all three come before the second frame
    if (frames == 3) PostQuitMessage(7);
  });
  EXPECT_EQ(recorded, "mmmmmfmmmff");
  EXPECT_EQ(exitCode, 7);
}

TEST_F(FrameLoopTest, FramesKeepTheirPeriodAndAStallGivesOneLateFrame) {
  const double frequency = static_cast<double>(platform::PerformanceFrequency());
  std::vector<std::int64_t> at;
  std::vector<double> dts;
  constexpr int kStallFrame = 10;
  constexpr int kFrames = 30;
  platform::win32::RunFrameLoop([&](double dt) {
    at.push_back(platform::PerformanceCounter());
    dts.push_back(dt);
    if (at.size() == kStallFrame) platform::SleepMs(120);  // seven periods and a bit
    if (at.size() == kFrames) PostQuitMessage(0);
  });
  ASSERT_EQ(at.size(), static_cast<std::size_t>(kFrames));
  // Each frame has a period of the grid to itself, so of any three frames the first and the last
  // lie more than a period apart, after the stall as well: late frames do not bunch up.
  const double periodMs = 1000.0 / 60;
  for (std::size_t i = 2; i < at.size(); ++i) {
    const double spanMs = static_cast<double>(at[i] - at[i - 2]) * 1000.0 / frequency;
    EXPECT_GT(spanMs, periodMs - 0.5) << "frames " << i - 2 << " to " << i;
  }
  EXPECT_GE(dts[kStallFrame], 0.12) << "the frame after the stall reports the stall's length";
  // Over the whole run no more frames than 60 a second allow: 29 gaps of a period at least, the
  // stall's of seven, less a period for where in its own the first frame fell (and a period of
  // margin). A burst after the stall would come to five periods less.
  const double seconds = static_cast<double>(at.back() - at.front()) / frequency;
  EXPECT_GE(seconds, (kFrames - 1 + 6 - 2) / 60.0);
}

}  // namespace
