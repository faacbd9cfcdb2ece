// What the splash does on the window thread, whatever draws it: the per-frame work and the
// reactions to paint requests, moves of the main window, presses and activations. A backend's
// event handlers call these; the backend itself only creates windows and shows surfaces.
#pragma once

#include <cstdint>

#include "ui/main_screen.h"
#include "ui/splash_state.h"
#include "ui/window_host.h"

namespace ui {

class SplashDriver {
 public:
  SplashDriver(WindowHost& host, MainScreen& screen, const SplashState* state)
      : host_(host), screen_(screen), state_(state) {}

  // One frame, after the launcher's own per-frame update: what the stages wrote reaches the
  // elements, every form ticks, the main window asks for a repaint when one of its elements is
  // dirty, and every form follows the main window (asking for its own repaint when dirty).
  void Frame(double dt);
  // A paint request reached `window`.
  void OnPaint(WindowHandle window);
  // The main window moved: every form goes over its new rectangle.
  void OnMainWindowMoved();
  // A left-button press at client (x, y) of any splash window: the drag of the main window
  // starts, and the click goes to the topmost element only when no other button or modifier
  // key is held.
  void OnLeftButtonDown(std::int32_t x, std::int32_t y, bool leftButtonAlone);
  // A later start asked this one to come forward.
  void OnActivation() { host_.BringToFront(screen_.mainWindow); }

 private:
  WindowHost& host_;
  MainScreen& screen_;
  const SplashState* state_;
  SnapshotApplier applier_;
  SplashSnapshot snapshot_;
  std::uint64_t appliedVersion_ = ~std::uint64_t{0};  // none yet: the first frame applies the state
};

}  // namespace ui
