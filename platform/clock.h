// Wall clock, high-resolution counter and sleeping.
#pragma once

#include <cstdint>

namespace platform {

// Milliseconds since 1970-01-01 00:00 UTC.
std::uint64_t NowMs();
// Monotonic high-resolution counter and its ticks per second.
std::int64_t PerformanceCounter();
std::int64_t PerformanceFrequency();
void SleepMs(int milliseconds);

}  // namespace platform
