// Window seam of the splash: the main window, the overlay forms' windows and showing a surface.
//
// A backend (GTK 3 on Linux, Win32 layered windows on Windows) implements WindowHost for the
// window thread; every call comes from that thread. It must:
//   - CreateMainWindow: a borderless top-level window of the given size with per-pixel alpha,
//     that takes no keyboard focus on creation; shown.
//   - CreateFormWindow: a borderless top-level window with per-pixel alpha, owned by (transient
//     for) `parent`, taking no focus, shown above the parent and above earlier forms.
//   - GetWindowRect: the window's rectangle in screen pixels.
//   - PlaceWindow: move and size the window to `rect` (screen pixels) and keep it at the top of the
//     parent's owned windows (main lowest, forms in creation order above it).
//   - RequestRepaint: ask for one paint of the whole window; the paint reaches the shared paint
//     handler (SplashDriver::OnPaint) on the window thread, without erasing.
//   - Present: show `surface` (premultiplied ARGB, the window's size) as the window's whole content
//     at `screenRect`, replacing what was there (no blending with the old content); presses on
//     fully transparent pixels must reach what lies below.
//   - BringToFront: raise the main window and give it the foreground, keeping the forms above it.
//   - BeginDrag: the system (or the backend itself) moves the main window while the left button
//     stays down after a press.
//   - TickMs: an unsigned 32-bit millisecond tick that wraps (GetTickCount on Windows).
// Events go the other way: the backend calls the SplashDriver on paint requests, moves of the main
// window, left-button presses and activations (see ui/splash_driver.h).
#pragma once

#include <cstdint>
#include <string>

#include "ui/canvas.h"
#include "ui/geometry.h"

namespace ui {

// Opaque window identity: HWND on Windows, the GtkWidget of a top-level window with GTK.
using WindowHandle = void*;

class WindowHost {
 public:
  virtual ~WindowHost() = default;
  virtual WindowHandle CreateMainWindow(int width, int height, const std::string& title) = 0;
  virtual WindowHandle CreateFormWindow(WindowHandle parent) = 0;
  virtual Rect GetWindowRect(WindowHandle window) = 0;
  virtual void PlaceWindow(WindowHandle window, const Rect& rect) = 0;
  virtual void RequestRepaint(WindowHandle window) = 0;
  virtual void Present(WindowHandle window, Surface& surface, const Rect& screenRect) = 0;
  virtual void BringToFront(WindowHandle mainWindow) = 0;
  virtual void BeginDrag(WindowHandle mainWindow) = 0;
  virtual std::uint32_t TickMs() = 0;
};

}  // namespace ui
