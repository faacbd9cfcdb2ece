#include "ui/splash_driver.h"

#include "ui/render_pass.h"

namespace ui {

void SplashDriver::OnPaint(WindowHandle window) { RenderLayeredWindow(host_, window); }

void SplashDriver::Frame(double dt) {
  if (state_ && state_->SnapshotIfNewer(&appliedVersion_, &snapshot_)) applier_.Apply(screen_, snapshot_);
  for (auto& form : screen_.forms) form->Tick(dt);
  if (HasDirtyDrawable(screen_.mainWindow)) host_.RequestRepaint(screen_.mainWindow);
  for (auto& form : screen_.forms) form->SyncWithParent();
}

void SplashDriver::OnMainWindowMoved() {
  for (auto& form : screen_.forms) form->FollowParent();
}

void SplashDriver::OnLeftButtonDown(std::int32_t x, std::int32_t y, bool leftButtonAlone) {
  host_.BeginDrag(screen_.mainWindow);
  if (leftButtonAlone) DispatchClick(x, y);
}

}  // namespace ui
