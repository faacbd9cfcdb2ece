// Frame pacing of the window thread: frames at 1/60 s by the high-resolution counter.
// After a stall the schedule realigns to a whole multiple of the period, so a stall of
// several periods yields one frame, not a burst; dt is the real time since the last frame.
// Between frames a loop waits for what MillisecondsUntilDue says, or for its next event.
#pragma once

#include <cstdint>

class FramePacer {
 public:
  FramePacer(std::int64_t frequency, std::int64_t now);

  // True when a frame is due at counter value `now`; then *dt holds the seconds since the previous frame.
  bool FrameDue(std::int64_t now, double* dt);
  // Whole milliseconds (rounded up) from `now` until FrameDue becomes true; 0 when it already is.
  int MillisecondsUntilDue(std::int64_t now) const;
  // The same in 100 ns units, rounded up; 0 when a frame is already due.
  std::int64_t HundredNanosecondsUntilDue(std::int64_t now) const;
  std::int64_t Period() const { return period_; }

 private:
  std::int64_t frequency_;
  std::int64_t period_;
  std::int64_t lastTick_;
  std::int64_t prevFrame_;
};
