#include "platform/win32/frame_wait.h"

#include <windows.h>

namespace platform::win32 {
namespace {

// Not in every SDK's headers; the system rejects it where it does not exist.
constexpr DWORD kHighResolutionTimer = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

}  // namespace

FrameWait::FrameWait()
    : timer_(CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_MODIFY_STATE | SYNCHRONIZE)) {}

void FrameWait::Wait(int milliseconds) {
  if (milliseconds <= 0) return;
  // MWMO_INPUTAVAILABLE: a message that a PeekMessage has already seen still ends the wait.
  constexpr DWORD kFlags = MWMO_INPUTAVAILABLE;
  LARGE_INTEGER due{};
  due.QuadPart = -10000LL * milliseconds;  // relative, in 100 ns units
  if (timer_ && SetWaitableTimer(timer_.Get(), &due, 0, nullptr, nullptr, FALSE)) {
    HANDLE timer = timer_.Get();
    // A timer that ended the wait has nothing left to cancel; each call is a server request
    // under Wine, once a frame.
    if (MsgWaitForMultipleObjectsEx(1, &timer, INFINITE, QS_ALLINPUT, kFlags) != WAIT_OBJECT_0)
      CancelWaitableTimer(timer_.Get());
    return;
  }
  MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(milliseconds), QS_ALLINPUT, kFlags);
}

}  // namespace platform::win32
