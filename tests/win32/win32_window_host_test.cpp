// Placing the splash's windows: the frame loop places every form each frame, so a placement that
// changes nothing must reach no window procedure, one that does must still move the window, and
// a form the main window came above is raised again.
#include "platform/win32/win32_window_host.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "ui/canvas.h"
#include "ui/color_matrix.h"
#include "ui/main_screen.h"

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

ui::Rect SystemRect(ui::WindowHandle window) {
  RECT rect{};
  if (!GetWindowRect(static_cast<HWND>(window), &rect)) return {};
  return ui::Rect{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

bool Holds(const ui::Rect& outer, const ui::Rect& inner) {
  return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

// A form lies over the whole main window for the splash, but its system window covers only the
// cells it drew on: it follows the main window with them, grows when a drawing outgrows them,
// keeps its size while the drawing changes inside, and a press on it reaches the splash in the
// main window's coordinates.
TEST(Win32WindowHost, AFormsWindowCoversWhatItDrewAndPressesMapToTheMainWindow) {
  platform::win32::Win32WindowHost host(GetModuleHandleW(nullptr), &CountingProcedure);
  const ui::WindowHandle main = host.CreateMainWindow(400, 200, "extent test");
  ASSERT_NE(main, nullptr);
  const ui::WindowHandle form = host.CreateFormWindow(main);
  ASSERT_NE(form, nullptr);
  const ui::Rect placed{60, 50, 400, 200};
  host.PlaceWindow(form, placed);
  EXPECT_EQ(host.GetWindowRect(form), placed);
  EXPECT_EQ(SystemRect(form), (ui::Rect{placed.x, placed.y, 1, 1})) << "nothing drawn yet";

  const auto fill = ui::LoadPngResource(ui::kProgressFillImage);
  ASSERT_NE(fill, nullptr);
  const auto present = [&](std::initializer_list<ui::Rect> parts) {
    auto surface = ui::CreateSurface(placed.width, placed.height);
    ASSERT_NE(surface, nullptr);
    for (const ui::Rect& part : parts) {
      const ui::RectF destination{static_cast<float>(part.x), static_cast<float>(part.y),
                                  static_cast<float>(part.width), static_cast<float>(part.height)};
      surface->GetCanvas().DrawImagePart(*fill, destination, {0, 0, 18, 15}, ui::TintMatrix(ui::kOpaqueWhite));
    }
    host.Present(form, *surface, host.GetWindowRect(form));
  };
  const ui::Rect bar{70, 40, 18, 15};
  present({bar});
  const ui::Rect first = SystemRect(form);
  EXPECT_TRUE(Holds(first, ui::Rect{placed.x + bar.x, placed.y + bar.y, bar.width, bar.height}));
  EXPECT_LE(first.width * first.height, 64 * 64) << "the window is the size of its drawing, not of the main window";
  EXPECT_EQ(host.GetWindowRect(form), placed);

  const POINT press = host.ToSplashPoint(static_cast<HWND>(form), POINT{bar.x + placed.x - first.x + 3, 5});
  EXPECT_EQ(press.x, bar.x + 3);
  EXPECT_EQ(press.y, first.y - placed.y + 5);
  const POINT onMain = host.ToSplashPoint(static_cast<HWND>(main), POINT{7, 9});
  EXPECT_EQ(onMain.x, 7);
  EXPECT_EQ(onMain.y, 9);

  present({ui::Rect{bar.x + 2, bar.y, 10, 15}});  // smaller, inside: the same window
  EXPECT_EQ(SystemRect(form), first);

  const ui::Rect moved{placed.x + 25, placed.y - 10, placed.width, placed.height};
  host.PlaceWindow(form, moved);
  EXPECT_EQ(SystemRect(form), (ui::Rect{first.x + 25, first.y - 10, first.width, first.height}));
  EXPECT_EQ(host.GetWindowRect(form), moved);

  const ui::Rect distant{300, 150, 18, 15};
  present({bar, distant});
  const ui::Rect grown = SystemRect(form);
  EXPECT_TRUE(Holds(grown, ui::Rect{moved.x + bar.x, moved.y + bar.y, bar.width, bar.height}));
  EXPECT_TRUE(Holds(grown, ui::Rect{moved.x + distant.x, moved.y + distant.y, distant.width, distant.height}));
  EXPECT_TRUE(Holds(moved, grown));
  DestroyWindow(static_cast<HWND>(form));
  DestroyWindow(static_cast<HWND>(main));
}

}  // namespace
