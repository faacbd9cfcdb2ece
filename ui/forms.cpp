#include "ui/forms.h"

namespace ui {

BaseForm::BaseForm(WindowHost& host, WindowHandle parent)
    : host_(host), parent_(parent), window_(host.CreateFormWindow(parent)) {}

void BaseForm::FollowParent() { host_.PlaceWindow(window_, host_.GetWindowRect(parent_)); }

void BaseForm::SyncWithParent() {
  FollowParent();
  if (HasDirtyDrawable(window_)) host_.RequestRepaint(window_);
}

void BaseForm::Tick(double seconds) {
  if (onTick_) onTick_(this, seconds);
}

void LabelForm::Init() { label_ = CreateLabel(Window(), std::string(), 0, {0, 0, -1, -1}); }

namespace {

template <typename Form>
std::unique_ptr<Form> CreateForm(WindowHost& host, WindowHandle parent) {
  auto form = std::make_unique<Form>(host, parent);
  form->Init();
  form->SyncWithParent();
  return form;
}

}  // namespace

std::unique_ptr<LabelForm> CreateLabelForm(WindowHost& host, WindowHandle parent) {
  return CreateForm<LabelForm>(host, parent);
}

std::unique_ptr<Slice9ImageForm> CreateSlice9ImageForm(WindowHost& host, WindowHandle parent) {
  return CreateForm<Slice9ImageForm>(host, parent);
}

}  // namespace ui
