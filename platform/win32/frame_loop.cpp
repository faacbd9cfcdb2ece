#include "platform/win32/frame_loop.h"

#include <windows.h>

#include <cstdint>

#include "app/frame_pacer.h"
#include "platform/clock.h"
#include "platform/win32/frame_wait.h"

namespace platform::win32 {
namespace {

// How long after a frame falls due the frame clock wakes the thread, in 100 ns units: a timer
// may end a fraction of a millisecond early, which would be a wake-up for nothing.
constexpr std::int64_t kWakeAfterDue = 5000;

bool EndsLoop(UINT message) { return message == WM_QUIT || message == WM_DESTROY || message == WM_CLOSE; }

}  // namespace

int RunFrameLoop(const std::function<void(double dt)>& frame) {
  FramePacer pacer(PerformanceFrequency(), PerformanceCounter());
  FrameWait wait;
  // The frame clock wakes the thread a little after each frame falls due, never just before it.
  const auto arm = [&] { wait.Arm(pacer.HundredNanosecondsUntilDue(PerformanceCounter()) + kWakeAfterDue); };
  arm();
  bool clockWoke = false;
  MSG message{};
  for (;;) {
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
      if (EndsLoop(message.message)) return static_cast<int>(static_cast<std::uint32_t>(message.wParam));
    }
    double dt = 0;
    if (pacer.FrameDue(PerformanceCounter(), &dt)) {
      frame(dt);
    } else if (clockWoke) {
      // A wake-up with no frame due: the clock drifted off the frames, or its wake-ups piled up
      // during a stall. Set again from the frames' own time.
      arm();
    }
    // Straight to the wait after a frame: what the frame queued (a repaint among others) ends it
    // at once, and a peek that finds nothing would be one more server request a frame under Wine.
    clockWoke = wait.Wait(pacer.MillisecondsUntilDue(PerformanceCounter()));
  }
}

}  // namespace platform::win32
