#include "platform/process_exit.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace platform {
namespace {

std::mutex hookMutex;
std::function<void(int)> exitHook;

}  // namespace

void SetExitHookForTesting(std::function<void(int)> hook) {
  std::lock_guard<std::mutex> lock(hookMutex);
  exitHook = std::move(hook);
}

void QuickExit(int code) {
  std::function<void(int)> hook;
  {
    std::lock_guard<std::mutex> lock(hookMutex);
    hook = exitHook;
  }
  if (hook) {
    hook(code);
    // The real exit never returns; a test's stand-in keeps that promise by parking this thread.
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  std::fflush(stdout);
  std::fflush(stderr);
#ifdef _WIN32
  // The mingw runtime has no quick_exit; _Exit ends the process the same way (nothing is
  // registered with at_quick_exit).
  std::_Exit(code);
#else
  std::quick_exit(code);
#endif
}

}  // namespace platform
