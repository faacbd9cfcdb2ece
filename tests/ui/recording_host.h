// A window host for tests: windows are numbers, presented surfaces are kept for pixel checks,
// and the tick is set by the test.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "ui/window_host.h"

class RecordingHost : public ui::WindowHost {
 public:
  ui::WindowHandle CreateMainWindow(int width, int height, const std::string&) override {
    return Add({0, 0, width, height});
  }
  ui::WindowHandle CreateFormWindow(ui::WindowHandle) override { return Add({0, 0, 0, 0}); }
  ui::Rect GetWindowRect(ui::WindowHandle w) override { return rects[w]; }
  void PlaceWindow(ui::WindowHandle w, const ui::Rect& r) override { rects[w] = r; }
  void RequestRepaint(ui::WindowHandle w) override { repaints.push_back(w); }
  void Present(ui::WindowHandle w, ui::Surface& surface, const ui::Rect&) override {
    presented.push_back(w);
    auto& pixels = content[w];
    pixels.assign(static_cast<std::size_t>(surface.Width() * surface.Height()), 0);
    for (int y = 0; y < surface.Height(); ++y)
      for (int x = 0; x < surface.Width(); ++x)
        pixels[static_cast<std::size_t>(y * surface.Width() + x)] = surface.PixelAt(x, y);
    widths[w] = surface.Width();
  }
  void BringToFront(ui::WindowHandle w) override { fronted.push_back(w); }
  void BeginDrag(ui::WindowHandle w) override { drags.push_back(w); }
  std::uint32_t TickMs() override { return tick; }

  std::uint32_t Pixel(ui::WindowHandle w, int x, int y) {
    return content[w][static_cast<std::size_t>(y * widths[w] + x)];
  }

  std::uint32_t tick = 1000;
  std::map<ui::WindowHandle, ui::Rect> rects;
  std::map<ui::WindowHandle, std::vector<std::uint32_t>> content;
  std::map<ui::WindowHandle, int> widths;
  std::vector<ui::WindowHandle> repaints, presented, fronted, drags;

 private:
  ui::WindowHandle Add(const ui::Rect& r) {
    auto* handle = reinterpret_cast<ui::WindowHandle>(static_cast<std::uintptr_t>(++next_ * 16));
    rects[handle] = r;
    return handle;
  }
  int next_ = 0;
};
