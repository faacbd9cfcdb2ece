// Elements of the splash: a retained scene of images, nine-slice images and labels.
//
// Every element appends itself at creation to the process-wide DrawableRegistry. The registry's
// order is the drawing order (first created lies lowest) and, reversed, the hit-testing order.
// Elements live for the whole run; forms and the main screen keep plain pointers to them.
//
// Dirty rule: a setter marks the element dirty when its window must be drawn again. Position,
// rectangle, colour and insets always do; visibility, text and font size only on a real change,
// so the per-frame refresh of unchanged values causes no redraw. A render pass of the element's
// window clears the flag, visible or not.
//
// Elements carry no lock: they are used on the window thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "ui/canvas.h"
#include "ui/geometry.h"
#include "ui/window_host.h"

namespace ui {

class Drawable {
 public:
  explicit Drawable(WindowHandle owner) : owner_(owner) { ++dirtyCount_; }
  Drawable(const Drawable&) = delete;
  Drawable& operator=(const Drawable&) = delete;
  virtual ~Drawable() {
    if (dirty_) --dirtyCount_;
  }

  virtual void Draw(Canvas& canvas) const = 0;
  virtual void SetRect(const Rect& rect);

  void SetPosition(int x, int y);
  void SetVisible(bool visible);
  void SetColor(Argb color);
  void SetOnClick(std::function<void()> handler) { onClick_ = std::move(handler); }

  int X() const { return rect_.x; }
  int Y() const { return rect_.y; }
  int Width() const { return rect_.width; }
  int Height() const { return rect_.height; }
  const Rect& GetRect() const { return rect_; }
  Argb Color() const { return color_; }
  bool Visible() const { return visible_; }
  bool Dirty() const { return dirty_; }
  void ClearDirty() {
    if (dirty_) --dirtyCount_;
    dirty_ = false;
  }
  // Elements dirty right now, of every window: the frame loop looks at each window only when
  // some element is dirty at all. Elements live on the window thread alone.
  static std::size_t DirtyCount() { return dirtyCount_; }
  WindowHandle Owner() const { return owner_; }
  const std::function<void()>& OnClick() const { return onClick_; }

 protected:
  void MarkDirty() {
    if (!dirty_) ++dirtyCount_;
    dirty_ = true;
  }

 private:
  Rect rect_;
  Argb color_ = kOpaqueWhite;
  std::function<void()> onClick_;
  bool dirty_ = true;
  WindowHandle owner_;
  bool visible_ = true;
  static inline std::size_t dirtyCount_ = 0;
};

// The process-wide ordered list of every element. It owns them so that a test can start afresh;
// the launcher itself never removes anything.
class DrawableRegistry {
 public:
  static DrawableRegistry& Instance();

  template <typename T>
  T* Add(std::unique_ptr<T> element) {
    T* raw = element.get();
    elements_.push_back(std::move(element));
    return raw;
  }
  const std::vector<std::unique_ptr<Drawable>>& Elements() const { return elements_; }
  void ClearForTesting() { elements_.clear(); }

 private:
  std::vector<std::unique_ptr<Drawable>> elements_;
};

// True when an element owned by `window` is dirty, visible or not.
bool HasDirtyDrawable(WindowHandle window);

}  // namespace ui
