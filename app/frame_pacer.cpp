#include "app/frame_pacer.h"

FramePacer::FramePacer(std::int64_t frequency, std::int64_t now)
    : frequency_(frequency),
      period_(static_cast<std::int64_t>(static_cast<double>(frequency) * (1.0 / 60))),
      lastTick_(now),
      prevFrame_(now) {
  if (period_ <= 0) period_ = 1;  // a counter slower than 60 Hz still paces, one tick per frame
}

bool FramePacer::FrameDue(std::int64_t now, double* dt) {
  if (now - lastTick_ <= period_) return false;
  lastTick_ = now - (now % period_);
  *dt = static_cast<double>(now - prevFrame_) / static_cast<double>(frequency_);
  prevFrame_ = now;
  return true;
}

int FramePacer::MillisecondsUntilDue(std::int64_t now) const {
  // FrameDue needs more than one whole period since the last grid point.
  const std::int64_t ticks = lastTick_ + period_ + 1 - now;
  if (ticks <= 0) return 0;
  return static_cast<int>((ticks * 1000 + frequency_ - 1) / frequency_);
}

std::int64_t FramePacer::HundredNanosecondsUntilDue(std::int64_t now) const {
  const std::int64_t ticks = lastTick_ + period_ + 1 - now;
  if (ticks <= 0) return 0;
  // A counter of some MHz over less than a period: no overflow.
  return (ticks * 10'000'000 + frequency_ - 1) / frequency_;
}
