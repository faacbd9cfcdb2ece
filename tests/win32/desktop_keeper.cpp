// Holds Wine's desktop for the tests' launchers. Wine starts its desktop process (explorer) for
// the first program that needs a window, waits 10 s for it and, when that passes, fails every
// window of the session; under the load of the large cases that wait ran out. Started once,
// this program brings the desktop up, says "desktop ready" (or "no desktop" and exits with 1),
// and keeps it until the Wine server ends, so each launcher starts on a desktop that exists.
// Messages are answered while it waits: a broadcast must never wait on it.
#include <windows.h>

#include <cstdio>

int main() {
  HWND probe = CreateWindowExW(0, L"STATIC", L"desktop probe", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
  if (GetDesktopWindow() == nullptr || probe == nullptr) {
    std::printf("no desktop (system error %lu)\n", static_cast<unsigned long>(GetLastError()));
    return 1;
  }
  DestroyWindow(probe);
  std::printf("desktop ready\n");
  std::fflush(stdout);
  for (;;) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
  }
}
