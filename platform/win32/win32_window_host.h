// The splash's windows on Windows: a layered main window and layered popups owned by it,
// sharing one window procedure that hands events to the SplashDriver.
//
// A form is placed over the whole main window and drawn at that size, but its system window
// covers only the part of it the form has drawn on so far (ui::CoveringExtent): the rest would
// be fully transparent, which shows nothing and lets presses through anyway. Under Wine every
// push of a layered window copies and scans its whole surface for the window's shape; a stage
// text the main window's size costs that for 546,000 pixels twice a second, one the size of the
// text for a few thousand. GetWindowRect answers for a form with the rectangle it was placed at,
// and presses on a form are handed on in the main window's coordinates (ToSplashPoint).
#pragma once

#include <windows.h>

#include <map>
#include <vector>

#include "ui/window_host.h"

namespace platform::win32 {

class Win32WindowHost final : public ui::WindowHost {
 public:
  explicit Win32WindowHost(HINSTANCE instance, WNDPROC windowProcedure)
      : instance_(instance), windowProcedure_(windowProcedure) {}

  // Null when the class cannot be registered (no window is then made).
  ui::WindowHandle CreateMainWindow(int width, int height, const std::string& title) override;
  ui::WindowHandle CreateFormWindow(ui::WindowHandle parent) override;
  ui::Rect GetWindowRect(ui::WindowHandle window) override;
  void PlaceWindow(ui::WindowHandle window, const ui::Rect& rect) override;
  void RequestRepaint(ui::WindowHandle window) override;
  void Present(ui::WindowHandle window, ui::Surface& surface, const ui::Rect& screenRect) override;
  void BringToFront(ui::WindowHandle mainWindow) override;
  void BeginDrag(ui::WindowHandle mainWindow) override;
  std::uint32_t TickMs() override;

  // Client coordinates of a press on one of the splash's windows, in those of the main window
  // (which the forms' elements are placed in).
  POINT ToSplashPoint(HWND window, POINT client) const;

  // Called by the frame loop before each frame: every kStackingReadFrames frames the stacking
  // order is read again, once, by the first placement of the frame that needs it.
  void BeginFrame() {
    if (++framesSinceStackingRead_ < kStackingReadFrames) return;
    framesSinceStackingRead_ = 0;
    stackingCurrent_ = false;
  }
  // The window procedure hands on every WM_WINDOWPOSCHANGED of the splash's windows: a change of
  // the stacking order (no SWP_NOZORDER) makes the order read this frame stale.
  void OnWindowPosChanged(const WINDOWPOS& position);

 private:
  bool IsAboveOwner(HWND window);
  // Where a form's system window lies: its part (extent) of the rectangle it was placed at.
  static ui::Rect OnScreen(const ui::Rect& placed, const ui::Rect& extent);

  HINSTANCE instance_;
  WNDPROC windowProcedure_;
  // The window thread's top-level windows, topmost first, as last read. Walking the z-order
  // window by window is a server request per step under Wine, three for each form on average;
  // the list is one. Under Wine an exposure of the main window can raise it above its forms
  // without any message, so the order is read again even when nothing said it changed.
  std::vector<HWND> stacking_;
  bool stackingCurrent_ = false;
  // Between placements and stacking changes, which make it stale at once, the order is read every
  // fourth frame: a raise without a message leaves the forms covered for 67 ms at most, and the
  // read is one of an idle frame's four server requests.
  static constexpr int kStackingReadFrames = 4;
  int framesSinceStackingRead_ = 0;
  // What each window shows since its last Present: its system window's rectangle, the bounds of
  // the surface's drawn (not fully transparent) pixels, and the part of the surface the window
  // covers. A new content is pushed only over the union of the old and the new bounds: the stage
  // text's dots change a few hundred pixels.
  struct Shown {
    ui::Rect window;
    ui::Rect drawn;
    ui::Rect extent;
  };
  std::map<HWND, Shown> shown_;
  // Every form: the rectangle the splash placed it at, and the part of it its window covers
  // (empty until it first draws something; then its window is the size of that part).
  struct Form {
    ui::Rect placed;
    ui::Rect extent;
  };
  std::map<HWND, Form> forms_;
};

// The position that centres a window of this size on the primary screen (integer halves,
// truncated toward zero).
POINT CentredOnScreen(int screenWidth, int screenHeight, int width, int height);

}  // namespace platform::win32
