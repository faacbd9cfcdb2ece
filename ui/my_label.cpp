#include "ui/my_label.h"

#include "app/texts.h"

namespace ui {

MyLabel::MyLabel(WindowHandle owner) : Drawable(owner), fontFamily_(CreateFontFamily(texts::kFontFamily)) {}

void MyLabel::Draw(Canvas& canvas) const {
  if (!fontFamily_) return;
  canvas.DrawString(text_, *fontFamily_, fontStyle_, fontSize_, static_cast<float>(X()), static_cast<float>(Y()),
                    Color());
}

void MyLabel::SetText(const std::string& gbkText) {
  if (text_ == gbkText) return;
  text_ = gbkText;
  MarkDirty();
}

void MyLabel::SetFontSize(float sizePx) {
  // Written so that a NaN old size counts as different.
  if (fontSize_ == sizePx) return;
  fontSize_ = sizePx;
  MarkDirty();
}

MyLabel* CreateLabel(WindowHandle owner, const std::string& gbkText, float fontSizePx, const Rect& rect) {
  auto label = std::make_unique<MyLabel>(owner);
  label->SetRect(rect);
  label->SetText(gbkText);
  label->SetFontSize(fontSizePx);
  return DrawableRegistry::Instance().Add(std::move(label));
}

}  // namespace ui
