#include "platform/win32/frame_wait.h"

#include <windows.h>

namespace platform::win32 {
namespace {

// Not in every SDK's headers; the system rejects it where it does not exist.
constexpr DWORD kHighResolutionTimer = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
constexpr LONG kTimerPeriodMs = 50;                 // three frames of 1/60 s
constexpr std::int64_t kHundredNsPerSecond = 10'000'000;
// While the clock runs, a timeout this much later than the wake-up it backs up, so that the two
// do not end a wait each.
constexpr int kBackupSlackMs = 2;
// MWMO_INPUTAVAILABLE: a message that a PeekMessage has already seen still ends the wait.
constexpr DWORD kWaitFlags = MWMO_INPUTAVAILABLE;

}  // namespace

FrameWait::FrameWait() {
  for (auto& timer : timers_)
    timer =
        UniqueHandle(CreateWaitableTimerExW(nullptr, nullptr, kHighResolutionTimer, TIMER_MODIFY_STATE | SYNCHRONIZE));
}

bool FrameWait::Arm(std::int64_t firstDue) {
  armed_ = false;
  for (const auto& timer : timers_)
    if (!timer) return false;
  // A wake-up that came while nobody waited leaves its timer signalled, and setting a timer
  // again does not clear that under Wine: stopped first, what it signalled is taken here.
  for (const auto& timer : timers_) {
    CancelWaitableTimer(timer.Get());
    WaitForSingleObject(timer.Get(), 0);
  }
  for (std::size_t i = 0; i < timers_.size(); ++i) {
    LARGE_INTEGER due{};
    // Relative (negative), a third of the period apart, rounded to the nearest 100 ns.
    due.QuadPart = -(firstDue + (static_cast<std::int64_t>(i) * kHundredNsPerSecond + 30) / 60);
    if (!SetWaitableTimer(timers_[i].Get(), &due, kTimerPeriodMs, nullptr, nullptr, FALSE)) {
      for (const auto& timer : timers_) CancelWaitableTimer(timer.Get());
      return false;
    }
  }
  armed_ = true;
  return true;
}

bool FrameWait::Wait(int milliseconds) {
  if (milliseconds <= 0) return false;
  if (!armed_) {
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(milliseconds), QS_ALLINPUT, kWaitFlags);
    return false;
  }
  HANDLE handles[] = {timers_[0].Get(), timers_[1].Get(), timers_[2].Get()};
  const DWORD woken =
      MsgWaitForMultipleObjectsEx(static_cast<DWORD>(timers_.size()), handles,
                                  static_cast<DWORD>(milliseconds + kBackupSlackMs), QS_ALLINPUT, kWaitFlags);
  return woken < WAIT_OBJECT_0 + timers_.size();
}

}  // namespace platform::win32
