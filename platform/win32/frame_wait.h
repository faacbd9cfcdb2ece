// The window thread's wait between frames: until its next message or the next frame's time,
// whichever comes first.
//
// The frame's time comes from a frame clock where the system has high-resolution waitable timers
// (Windows 10 1803 on): three periodic timers of 50 ms, three frames, started a frame apart,
// which together wake the thread every 1/60 s without being set again. A one-shot timer set for
// each frame is a server request a frame under Wine, where an idle splash's cost is little more
// than its requests. A wait's timeout alone ends on the system's timer tick, 15.6 ms unless some
// program raised it, which would turn 60 frames a second into an uneven 32 or 64; without the
// timers that is what is left.
#pragma once

#include <array>
#include <cstdint>

#include "platform/win32/win_handles.h"

namespace platform::win32 {

class FrameWait {
 public:
  FrameWait();
  // Starts the frame clock: a wake-up `firstDue` from now (in 100 ns units) and one every 1/60 s
  // after it, replacing the wake-ups armed before (also one that came and was not waited for).
  // False where there are no high-resolution timers; waits then end on their timeout alone.
  bool Arm(std::int64_t firstDue);
  // Returns when a message is waiting for the calling thread (also one a peek has already seen),
  // at a wake-up of the frame clock, or after `milliseconds` (a little later while the clock
  // runs: the timeout only backs up the wake-up it expects); at once for 0. True when a wake-up
  // of the frame clock ended it.
  bool Wait(int milliseconds);

 private:
  std::array<UniqueHandle, 3> timers_;
  bool armed_ = false;
};

}  // namespace platform::win32
