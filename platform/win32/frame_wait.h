// The window thread's wait between frames: until its next message or the next frame's time,
// whichever comes first.
#pragma once

#include "platform/win32/win_handles.h"

namespace platform::win32 {

class FrameWait {
 public:
  FrameWait();
  // Returns when a message is waiting for the calling thread (also one a peek has already seen)
  // or after `milliseconds`; at once for 0.
  void Wait(int milliseconds);

 private:
  // A high-resolution waitable timer where the system has one (Windows 10 1803 on): a wait's
  // timeout alone ends on the system's timer tick, 15.6 ms unless some program raised it, which
  // would turn 60 frames a second into an uneven 32 or 64. Empty elsewhere.
  UniqueHandle timer_;
};

}  // namespace platform::win32
