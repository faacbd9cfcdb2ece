// Text element: a GBK string drawn bold in the label typeface, top-left corner at (x, y),
// neither wrapped nor clipped; width and height play no part in drawing.
#pragma once

#include <memory>
#include <string>

#include "ui/drawable.h"

namespace ui {

class MyLabel : public Drawable {
 public:
  explicit MyLabel(WindowHandle owner);

  void Draw(Canvas& canvas) const override;
  void SetText(const std::string& gbkText);
  void SetFontSize(float sizePx);

  const std::string& Text() const { return text_; }
  float FontSize() const { return fontSize_; }
  int FontStyle() const { return fontStyle_; }

 private:
  std::string text_;
  std::unique_ptr<FontFamily> fontFamily_;  // null when the typeface cannot be made
  int fontStyle_ = kFontStyleBold;
  float fontSize_ = 60;
};

MyLabel* CreateLabel(WindowHandle owner, const std::string& gbkText, float fontSizePx, const Rect& rect);

}  // namespace ui
