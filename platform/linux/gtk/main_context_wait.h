// The window thread's waits for events, bounded by the next frame.
//
// A full round of the GLib main context (prepare every source, poll, check every source) costs
// more than the frame it waits for on a busy machine, and sixty of them a second were the
// splash's largest cost when nothing moved. When the last full round found nothing to do,
// nothing has called into GTK since, no GLib timer falls due before the frame and no X event
// is already queued, the wait polls the same descriptors directly; anything that becomes ready
// on them (an X event, a wake-up from another thread) gets a full round at once.
#pragma once

#include <glib.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace gtk_splash {

class MainContextWait {
 public:
  // `eventsQueued`: whether input was already read and waits to be handled (the X connection's
  // own queue), which no descriptor would show; may be empty.
  explicit MainContextWait(std::function<bool()> eventsQueued);
  ~MainContextWait();
  MainContextWait(const MainContextWait&) = delete;
  MainContextWait& operator=(const MainContextWait&) = delete;

  // Waits at most `timeoutMs` (not at all unless `mayBlock`) and dispatches what became ready.
  // `gtkTouched`: GTK was called since the last wait, so it may have work of its own.
  // True when a source was dispatched.
  bool Wait(int timeoutMs, bool mayBlock, bool gtkTouched);

 private:
  bool QuietUntilFrame(int timeoutMs) const;
  bool FullRound(int timeoutMs);

  std::function<bool()> eventsQueued_;
  GMainContext* context_;
  std::vector<GPollFD> fds_;
  bool lastRoundIdle_ = false;  // the last full round dispatched nothing
  std::int64_t glibDueAt_ = 0;  // monotonic microseconds; when a GLib timer falls due, or -1
};

}  // namespace gtk_splash
