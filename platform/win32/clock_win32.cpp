#include <windows.h>

#include "platform/clock.h"

namespace platform {

std::uint64_t NowMs() {
  // File time: 100-nanosecond units since 1601-01-01 UTC.
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  ULARGE_INTEGER value{};
  value.LowPart = now.dwLowDateTime;
  value.HighPart = now.dwHighDateTime;
  return (value.QuadPart - 116444736000000000ULL) / 10000ULL;
}

std::int64_t PerformanceCounter() {
  LARGE_INTEGER value{};
  QueryPerformanceCounter(&value);
  return value.QuadPart;
}

std::int64_t PerformanceFrequency() {
  LARGE_INTEGER value{};
  QueryPerformanceFrequency(&value);
  return value.QuadPart;
}

void SleepMs(int milliseconds) { Sleep(milliseconds > 0 ? static_cast<DWORD>(milliseconds) : 0); }

}  // namespace platform
