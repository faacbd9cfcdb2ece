// Placing the splash's windows: the frame loop places every form each frame, so a placement that
// changes nothing must reach no window procedure, one that does must still move the window, and
// a form the main window came above is raised again.
#include "platform/win32/win32_window_host.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

int positionChanges = 0;
platform::win32::Win32WindowHost* watchingHost = nullptr;  // told of every position change, as the splash's is

LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_WINDOWPOSCHANGING) ++positionChanges;
  if (message == WM_WINDOWPOSCHANGED && watchingHost)
    watchingHost->OnWindowPosChanged(*reinterpret_cast<const WINDOWPOS*>(lParam));
  return DefWindowProcW(window, message, wParam, lParam);
}

// True when `upper` lies above `lower` in the z-order.
bool IsAbove(HWND upper, HWND lower) {
  HWND below = upper;
  for (int step = 0; step < 1000 && below; ++step) {
    below = GetWindow(below, GW_HWNDNEXT);
    if (below == lower) return true;
  }
  return false;
}

TEST(Win32WindowHost, PlacingAFormWhereItIsSendsNothingAndAMoveStillMoves) {
  platform::win32::Win32WindowHost host(GetModuleHandleW(nullptr), &CountingProcedure);
  const ui::WindowHandle main = host.CreateMainWindow(200, 100, "placement test");
  ASSERT_NE(main, nullptr);
  const ui::WindowHandle form = host.CreateFormWindow(main);
  ASSERT_NE(form, nullptr);
  const ui::Rect first{40, 30, 120, 60};
  host.PlaceWindow(form, first);
  ASSERT_EQ(host.GetWindowRect(form), first);

  positionChanges = 0;
  for (int frame = 0; frame < 10; ++frame) host.PlaceWindow(form, first);
  EXPECT_EQ(positionChanges, 0);

  const ui::Rect moved{41, 30, 120, 60};
  host.PlaceWindow(form, moved);
  EXPECT_GE(positionChanges, 1);
  EXPECT_EQ(host.GetWindowRect(form), moved);
  DestroyWindow(static_cast<HWND>(form));
  DestroyWindow(static_cast<HWND>(main));
}

// The order is read once a frame from the thread's window list; read wrongly (reversed, or stale
// after a change) every frame would raise the forms again, or leave them covered.
TEST(Win32WindowHost, FormsStayAboveTheMainWindowAndQuietFramesSendNothing) {
  platform::win32::Win32WindowHost host(GetModuleHandleW(nullptr), &CountingProcedure);
  watchingHost = &host;
  const ui::WindowHandle main = host.CreateMainWindow(200, 100, "stacking test");
  ASSERT_NE(main, nullptr);
  const ui::WindowHandle lower = host.CreateFormWindow(main);
  const ui::WindowHandle upper = host.CreateFormWindow(main);
  const HWND mainWindow = static_cast<HWND>(main);
  const ui::Rect rect = host.GetWindowRect(main);
  const auto frame = [&] {
    host.BeginFrame();
    host.PlaceWindow(lower, rect);
    host.PlaceWindow(upper, rect);
  };
  frame();
  ASSERT_TRUE(IsAbove(static_cast<HWND>(lower), mainWindow));
  ASSERT_TRUE(IsAbove(static_cast<HWND>(upper), static_cast<HWND>(lower)));

  for (int round = 0; round < 3; ++round) {
    // What BringToFront and an activation do to the main window.
    SetWindowPos(mainWindow, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    frame();
    EXPECT_TRUE(IsAbove(static_cast<HWND>(lower), mainWindow)) << "round " << round;
    EXPECT_TRUE(IsAbove(static_cast<HWND>(upper), static_cast<HWND>(lower))) << "round " << round;
    frame();
    positionChanges = 0;
    for (int quiet = 0; quiet < 10; ++quiet) frame();
    EXPECT_EQ(positionChanges, 0) << "round " << round;
  }
  // A placement that moves the form still reaches it, inside a frame as outside.
  const ui::Rect moved{rect.x + 3, rect.y, rect.width, rect.height};
  host.BeginFrame();
  host.PlaceWindow(upper, moved);
  EXPECT_EQ(host.GetWindowRect(upper), moved);
  EXPECT_TRUE(IsAbove(static_cast<HWND>(upper), mainWindow));
  watchingHost = nullptr;
  DestroyWindow(static_cast<HWND>(upper));
  DestroyWindow(static_cast<HWND>(lower));
  DestroyWindow(mainWindow);
}

}  // namespace
