#include "ui/render_pass.h"

#include "ui/drawable.h"

namespace ui {

RenderGate& RenderGate::Instance() {
  static RenderGate gate;
  return gate;
}

bool RenderGate::TryOpen(std::uint32_t now) {
  if (static_cast<std::uint32_t>(now - lastRenderTick_) < kMinIntervalMs) return false;
  lastRenderTick_ = now;
  return true;
}

bool RenderLayeredWindow(WindowHost& host, WindowHandle window) {
  if (!HasDirtyDrawable(window)) return false;
  if (!RenderGate::Instance().TryOpen(host.TickMs())) return false;

  const Rect rect = host.GetWindowRect(window);
  auto surface = CreateSurface(rect.width, rect.height);
  for (const auto& element : DrawableRegistry::Instance().Elements()) {
    if (element->Owner() != window) continue;
    if (surface && element->Visible()) element->Draw(surface->GetCanvas());
    element->ClearDirty();
  }
  if (!surface) return false;  // nothing to show; the window keeps its old content until the next change
  host.Present(window, *surface, rect);
  return true;
}

bool DispatchClick(std::int32_t x, std::int32_t y) {
  const auto& elements = DrawableRegistry::Instance().Elements();
  for (auto it = elements.rbegin(); it != elements.rend(); ++it) {
    const Drawable& element = **it;
    if (!element.Visible()) continue;
    // 64-bit sums: an edge near the int32 limit must not wrap into a hit.
    const std::int64_t left = element.X(), top = element.Y();
    if (x < left || x > left + element.Width() || y < top || y > top + element.Height()) continue;
    // A copy, so a handler that replaces itself does not destroy the code it runs.
    if (const auto handler = element.OnClick()) handler();
    return true;
  }
  return false;
}

}  // namespace ui
