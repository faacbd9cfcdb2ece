// The splash front end on Windows: GDI+ start-up, the layered main window and its overlay
// forms, the window procedure every splash window shares, and the frame loop.
//
// The frame loop itself is platform/win32/frame_loop.h.
#include <windows.h>
// After windows.h, which it needs.
#include <imm.h>

#include <cstdio>
#include <memory>

#include "app/front_end.h"
#include "net/background_tasks.h"
#include "platform/dialogs.h"
#include "platform/process_exit.h"
#include "platform/win32/activation.h"
#include "platform/win32/frame_loop.h"
#include "platform/win32/gdiplus_flat.h"
#include "platform/win32/message_box_dialogs.h"
#include "platform/win32/module_instance.h"
#include "platform/win32/win32_window_host.h"
#include "ui/main_screen.h"
#include "ui/splash_driver.h"

namespace {

using platform::win32::Win32WindowHost;

constexpr int kCloseRequestExitDelayMs = 1000;
// The main window's class name and title.
constexpr char kWindowTitle[] = "Tessarine";

// The one splash of the process; the window procedure reaches it only through this pointer,
// and only on the window thread.
struct Splash {
  Win32WindowHost* host = nullptr;
  std::unique_ptr<ui::MainScreen> screen;
  std::unique_ptr<ui::SplashDriver> driver;
  HWND mainWindow = nullptr;
};
Splash* currentSplash = nullptr;

bool IsMainWindow(HWND window) { return currentSplash && window == currentSplash->mainWindow; }

// A layered window's pixels are pushed with UpdateLayeredWindow, never painted through a window
// DC: validated only, without the paint DC that BeginPaint (and DefWindowProc's WM_PAINT after
// it) would set up each time, under Wine with a fresh font selection and X resource lookups.
LRESULT OnPaint(HWND window) {
  ValidateRect(window, nullptr);
  if (currentSplash && currentSplash->driver) currentSplash->driver->OnPaint(window);
  return 0;
}

LRESULT OnLeftButtonDown(HWND window, WPARAM wParam, LPARAM lParam) {
  if (!currentSplash || !currentSplash->driver) return 0;
  // Client coordinates as unsigned 16-bit halves; the click counts only with the left button alone.
  // A form's window covers only its drawn part of the main window: the press is handed on in the
  // main window's coordinates.
  const POINT client{static_cast<LONG>(LOWORD(lParam)), static_cast<LONG>(HIWORD(lParam))};
  const POINT at = currentSplash->host ? currentSplash->host->ToSplashPoint(window, client) : client;
  currentSplash->driver->OnLeftButtonDown(at.x, at.y, wParam == MK_LBUTTON);
  return 0;
}

LRESULT CALLBACK SplashWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const UINT activation = platform::win32::ActivationMessage();
  if (activation != 0 && message == activation) {
    if (IsMainWindow(window)) {
      if (currentSplash->driver) currentSplash->driver->OnActivation();
      platform::win32::DeliverActivation();
      return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }
  switch (message) {
    case WM_PAINT:
      return OnPaint(window);
    case WM_WINDOWPOSCHANGED:
      if (currentSplash && currentSplash->host)
        currentSplash->host->OnWindowPosChanged(*reinterpret_cast<const WINDOWPOS*>(lParam));
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_MOVE:
      if (IsMainWindow(window) && currentSplash->driver) currentSplash->driver->OnMainWindowMoved();
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_CLOSE:
      // The main window is never destroyed: a close request ends the process a second later.
      if (IsMainWindow(window)) {
        RunAfterDelay(kCloseRequestExitDelayMs, [] { platform::QuickExit(0); });
      } else {
        PostQuitMessage(0);
      }
      return 0;
    case WM_LBUTTONDOWN:
      return OnLeftButtonDown(window, wParam, lParam);
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

bool SplashFrontEndAvailable() { return true; }

int RunSplashFrontEnd(const FrontEndHooks& hooks) {
  ULONG_PTR gdiplusToken = 0;
  Gdiplus::GdiplusStartupInput input;  // version 1, no debug callback, nothing suppressed
  Gdiplus::GdiplusStartup(&gdiplusToken, &input, nullptr);

  static platform::win32::MessageBoxDialogs dialogs;
  platform::SetCurrentDialogs(&dialogs);

  static Splash splash;
  static Win32WindowHost host(platform::win32::ModuleInstance(), &SplashWindowProcedure);
  splash.host = &host;
  currentSplash = &splash;
  HWND mainWindow = static_cast<HWND>(host.CreateMainWindow(ui::kMainWidth, ui::kMainHeight, kWindowTitle));
  if (!mainWindow) {
    // Without a window there is no splash to run the launcher against and no desktop to show a
    // box on (under Wine: the desktop process did not come up in time). Nothing was checked or
    // installed, so the run must not end as a finished one would.
    const DWORD error = GetLastError();
    std::printf("could not create the splash window (system error %lu); nothing was checked or installed\n",
                static_cast<unsigned long>(error));
    std::fflush(stdout);
    Gdiplus::GdiplusShutdown(gdiplusToken);
    return kNoSplashWindowExitCode;
  }
  splash.mainWindow = mainWindow;
  dialogs.SetMainWindow(mainWindow);
  ImmAssociateContext(mainWindow, nullptr);  // the splash takes no input-method editor

  splash.screen = ui::BuildMainScreen(host, mainWindow, ui::kMainWidth, ui::kMainHeight, hooks.onCloseClicked);
  splash.driver = std::make_unique<ui::SplashDriver>(host, *splash.screen, hooks.splash);

  const POINT origin = platform::win32::CentredOnScreen(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN),
                                                        ui::kMainWidth, ui::kMainHeight);
  SetWindowPos(mainWindow, nullptr, origin.x, origin.y, ui::kMainWidth, ui::kMainHeight, 0);

  if (hooks.startFlow) hooks.startFlow();
  ui::SplashDriver& driver = *splash.driver;
  const int exitCode = platform::win32::RunFrameLoop([&hooks, &driver](double dt) {
    host.BeginFrame();
    if (hooks.updateStageText) hooks.updateStageText(dt);
    driver.Frame(dt);
  });
  Gdiplus::GdiplusShutdown(gdiplusToken);
  return exitCode;
}
