// Placing the splash's windows: the frame loop places every form each frame, so a placement that
// changes nothing must reach no window procedure, and one that does must still move the window.
#include "platform/win32/win32_window_host.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace {

int positionChanges = 0;

LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_WINDOWPOSCHANGING) ++positionChanges;
  return DefWindowProcW(window, message, wParam, lParam);
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

}  // namespace
