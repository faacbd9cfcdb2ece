// The splash's texts as drawn once, kept for the frames after. A text drawn with GDI+ costs a
// font selection and a glyph layout every time (under Wine also seven server requests and a
// fresh read of the X resource files), and the splash draws the same few texts again each time
// its stage text's dots move; a text kept here is composed as an image instead.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/gdiplus_flat.h"
#include "ui/canvas.h"

namespace platform::win32 {

class RenderedTexts {
 public:
  // Texts kept at most; the one used longest ago goes first. A few more than the splash shows at
  // once, so that its animated variants stay.
  static constexpr std::size_t kCapacity = 32;

  struct Text {
    Gdiplus::GpBitmap* bitmap;  // premultiplied ARGB, the text drawn at (margin, margin)
    int width;
    int height;
    int margin;
  };

  static RenderedTexts& Instance();

  // The text as drawn in the family, style, em size and colour with its layout box's top-left
  // corner at (margin, margin) of the bitmap; false when it cannot be drawn so (no memory, a
  // failing GDI+). `measure` is a graphics to measure the text with. Valid until the next call.
  bool Find(Gdiplus::GpGraphics* measure, const std::wstring& text, Gdiplus::GpFontFamily* family, int style,
            float emSizePx, ui::Argb color, Text* found);

 private:
  struct BitmapDeleter {
    void operator()(Gdiplus::GpBitmap* bitmap) const { gdip::GdipDisposeImage(bitmap); }
  };
  struct Entry {
    std::wstring text;
    std::wstring family;
    int style;
    float emSizePx;
    ui::Argb color;
    std::unique_ptr<Gdiplus::GpBitmap, BitmapDeleter> bitmap;
    Text drawn;
    std::uint64_t lastUse;
  };

  std::mutex mutex_;  // surfaces are drawn on the window thread, but nothing here depends on it
  std::vector<Entry> entries_;
  std::uint64_t uses_ = 0;
};

}  // namespace platform::win32
