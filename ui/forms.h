// Overlay forms: each a borderless window of the main window's size, lying exactly over it,
// carrying one element that changes while the launcher runs (a text, the progress fill, the
// close button). Changing that element redraws only its form, not the artwork below.
#pragma once

#include <functional>

#include "ui/my_image.h"
#include "ui/my_label.h"
#include "ui/window_host.h"

namespace ui {

class BaseForm {
 public:
  using TickHandler = std::function<void(BaseForm*, double)>;

  BaseForm(WindowHost& host, WindowHandle parent);
  BaseForm(const BaseForm&) = delete;
  BaseForm& operator=(const BaseForm&) = delete;
  virtual ~BaseForm() = default;

  // Covers the parent's rectangle (top of the parent's owned windows) and asks for a repaint
  // when one of the form's elements is dirty.
  virtual void SyncWithParent();
  virtual void Tick(double seconds);
  virtual void Init() {}

  // Places the form over the parent without the repaint check (main window moves).
  void FollowParent();
  void SetOnTick(TickHandler handler) { onTick_ = std::move(handler); }
  WindowHandle Window() const { return window_; }
  WindowHandle Parent() const { return parent_; }

 protected:
  WindowHost& host_;

 private:
  WindowHandle parent_;
  WindowHandle window_;
  TickHandler onTick_;
};

class LabelForm : public BaseForm {
 public:
  using BaseForm::BaseForm;
  void Init() override;
  MyLabel* Label() const { return label_; }

 private:
  MyLabel* label_ = nullptr;
};

class Slice9ImageForm : public BaseForm {
 public:
  using BaseForm::BaseForm;
  MySlice9Image* Slice9() const { return slice9_; }
  void Attach(MySlice9Image* element) { slice9_ = element; }

 private:
  MySlice9Image* slice9_ = nullptr;
};

// Create the form's window over `parent`, Init, then SyncWithParent so it covers the parent at once.
std::unique_ptr<LabelForm> CreateLabelForm(WindowHost& host, WindowHandle parent);
std::unique_ptr<Slice9ImageForm> CreateSlice9ImageForm(WindowHost& host, WindowHandle parent);

}  // namespace ui
