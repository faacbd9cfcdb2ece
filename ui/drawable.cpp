#include "ui/drawable.h"

namespace ui {

void Drawable::SetRect(const Rect& rect) {
  rect_ = rect;
  MarkDirty();
}

void Drawable::SetPosition(int x, int y) {
  rect_.x = x;
  rect_.y = y;
  MarkDirty();
}

void Drawable::SetVisible(bool visible) {
  if (visible_ == visible) return;
  visible_ = visible;
  MarkDirty();
}

void Drawable::SetColor(Argb color) {
  color_ = color;
  MarkDirty();
}

DrawableRegistry& DrawableRegistry::Instance() {
  static DrawableRegistry registry;
  return registry;
}

bool HasDirtyDrawable(WindowHandle window) {
  if (Drawable::DirtyCount() == 0) return false;
  for (const auto& element : DrawableRegistry::Instance().Elements())
    if (element->Owner() == window && element->Dirty()) return true;
  return false;
}

}  // namespace ui
