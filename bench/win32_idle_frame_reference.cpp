// The reference for the idle splash's processor time on Windows: one plain Win32 window and
// nothing else, its thread woken 60 times a second by a timer that does no work. Built with the
// launcher's toolchain; what the splash costs above this is its own.
//
//   win32_idle_frame_reference   (runs until closed; the window is titled "idle frame reference")
#include <windows.h>

namespace {

LRESULT CALLBACK ReferenceWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = &ReferenceWindowProcedure;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = L"IdleFrameReference";
  if (!RegisterClassW(&windowClass)) return 1;
  HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"idle frame reference", WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 400, 200, nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show);
  SetTimer(window, 1, 1000 / 60, nullptr);  // WM_TIMER reaches DefWindowProc, which ignores it
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
