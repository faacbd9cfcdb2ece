// The splash's frame loop on the window thread: every queued message is dispatched before a
// frame; with none queued and no frame due the thread waits for the next message or the frame's
// time, whichever comes first, so an idle splash wakes only for its frames. Frames come at
// 1/60 s by the performance counter and realign after a stall (FramePacer).
#pragma once

#include <functional>

namespace platform::win32 {

// Runs until WM_QUIT, or a WM_DESTROY or WM_CLOSE posted to the thread, has been dispatched;
// returns the wParam of that last message (WM_QUIT's exit code). `frame` gets the seconds since
// the previous frame.
int RunFrameLoop(const std::function<void(double dt)>& frame);

}  // namespace platform::win32
