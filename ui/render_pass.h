// The render pass of one window and the click dispatch shared by all windows of the splash.
#pragma once

#include <cstdint>

#include "ui/window_host.h"

namespace ui {

// At most one window is drawn per 16 ms, across all windows: of two windows that ask within
// 16 ms of each other only the first is drawn then; the other stays dirty and asks again on a
// later frame. The difference is taken modulo 2^32, so a wrapped tick still opens the gate.
class RenderGate {
 public:
  static constexpr std::uint32_t kMinIntervalMs = 16;
  // True (and remembers `now`) when at least 16 ms passed since the last pass began.
  bool TryOpen(std::uint32_t now);
  std::uint32_t LastRenderTick() const { return lastRenderTick_; }
  void ResetForTesting(std::uint32_t tick = 0) { lastRenderTick_ = tick; }

  static RenderGate& Instance();

 private:
  std::uint32_t lastRenderTick_ = 0;
};

// Draws the window's visible elements in registry order into a fresh surface of the window's
// size and presents it; every element of the window is left clean. Does nothing when no element
// of the window is dirty or the gate is closed. Returns true when it presented a surface.
bool RenderLayeredWindow(WindowHost& host, WindowHandle window);

// Calls the handler of the topmost visible element under (x, y), both edges inclusive, whatever
// its window; an element without a handler still ends the search. True when an element was hit.
bool DispatchClick(std::int32_t x, std::int32_t y);

}  // namespace ui
