// Frame pacing of the window thread: frames at 1/60 s by the high-resolution counter.
// After a stall the schedule realigns to a whole multiple of the period, so a stall of
// several periods yields one frame, not a burst; dt is the real time since the last frame.
#pragma once

#include <cstdint>

class FramePacer {
 public:
  FramePacer(std::int64_t frequency, std::int64_t now);

  // True when a frame is due at counter value `now`; then *dt holds the seconds since the previous frame.
  bool FrameDue(std::int64_t now, double* dt);
  std::int64_t Period() const { return period_; }

 private:
  std::int64_t frequency_;
  std::int64_t period_;
  std::int64_t lastTick_;
  std::int64_t prevFrame_;
};
