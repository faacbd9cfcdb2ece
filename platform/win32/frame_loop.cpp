#include "platform/win32/frame_loop.h"

#include <windows.h>

#include <cstdint>

#include "app/frame_pacer.h"
#include "platform/clock.h"
#include "platform/win32/frame_wait.h"

namespace platform::win32 {
namespace {

bool EndsLoop(UINT message) { return message == WM_QUIT || message == WM_DESTROY || message == WM_CLOSE; }

}  // namespace

int RunFrameLoop(const std::function<void(double dt)>& frame) {
  FramePacer pacer(PerformanceFrequency(), PerformanceCounter());
  FrameWait wait;
  MSG message{};
  for (;;) {
    if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
      if (EndsLoop(message.message)) break;
      continue;
    }
    double dt = 0;
    const std::int64_t now = PerformanceCounter();
    if (!pacer.FrameDue(now, &dt)) {
      wait.Wait(pacer.MillisecondsUntilDue(now));
      continue;
    }
    frame(dt);
  }
  return static_cast<int>(static_cast<std::uint32_t>(message.wParam));
}

}  // namespace platform::win32
