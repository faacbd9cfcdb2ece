#include "platform/win32/rendered_texts.h"

#include <algorithm>
#include <cmath>

namespace platform::win32 {
namespace {

struct GraphicsDeleter {
  void operator()(Gdiplus::GpGraphics* graphics) const { gdip::GdipDeleteGraphics(graphics); }
};

std::wstring FamilyName(Gdiplus::GpFontFamily* family) {
  WCHAR name[LF_FACESIZE] = {};
  if (gdip::GdipGetFamilyName(family, name, LANG_NEUTRAL) != Gdiplus::Ok) return std::wstring();
  return name;
}

}  // namespace

RenderedTexts& RenderedTexts::Instance() {
  // Never destroyed: GDI+ may be shut down before static destructors run.
  static auto* texts = new RenderedTexts;
  return *texts;
}

bool RenderedTexts::Find(Gdiplus::GpGraphics* measure, const std::wstring& text, Gdiplus::GpFontFamily* family,
                         int style, float emSizePx, ui::Argb color, Text* found) {
  // By name, not by the family object: a label's family may be released and another one made at
  // the same address.
  const std::wstring familyName = FamilyName(family);
  if (familyName.empty()) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& entry : entries_) {
    if (entry.text == text && entry.family == familyName && entry.style == style && entry.emSizePx == emSizePx &&
        entry.color == color) {
      entry.lastUse = ++uses_;
      *found = entry.drawn;
      return true;
    }
  }

  Gdiplus::GpFont* rawFont = nullptr;
  if (gdip::GdipCreateFont(family, emSizePx, style, Gdiplus::UnitPixel, &rawFont) != Gdiplus::Ok) return false;
  const std::unique_ptr<Gdiplus::GpFont, FontDeleter> font(rawFont);
  // The layout box the surface draws in: size 0, neither wrapped nor clipped.
  const Gdiplus::RectF unbounded(0, 0, 0, 0);
  Gdiplus::RectF box{};
  if (gdip::GdipMeasureString(measure, text.c_str(), -1, font.get(), &unbounded, nullptr, &box, nullptr, nullptr) !=
      Gdiplus::Ok)
    return false;
  // Glyphs may reach past the measured box (overhangs, antialiasing): a margin on every side.
  const int margin = static_cast<int>(std::ceil(emSizePx / 4)) + 2;
  const int width = static_cast<int>(std::ceil(box.X + box.Width)) + 2 * margin;
  const int height = static_cast<int>(std::ceil(box.Y + box.Height)) + 2 * margin;
  if (width <= 2 * margin || height <= 2 * margin || width > 8192 || height > 8192) return false;

  Gdiplus::GpBitmap* rawBitmap = nullptr;
  if (gdip::GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr, &rawBitmap) != Gdiplus::Ok)
    return false;
  std::unique_ptr<Gdiplus::GpBitmap, BitmapDeleter> bitmap(rawBitmap);
  {
    Gdiplus::GpGraphics* rawGraphics = nullptr;
    if (gdip::GdipGetImageGraphicsContext(bitmap.get(), &rawGraphics) != Gdiplus::Ok) return false;
    const std::unique_ptr<Gdiplus::GpGraphics, GraphicsDeleter> graphics(rawGraphics);
    // As on the surface: grey-scale antialiasing, since the text lands on a transparent window.
    gdip::GdipSetTextRenderingHint(graphics.get(), Gdiplus::TextRenderingHintAntiAliasGridFit);
    Gdiplus::GpSolidFill* rawBrush = nullptr;
    if (gdip::GdipCreateSolidFill(color, &rawBrush) != Gdiplus::Ok) return false;
    const std::unique_ptr<Gdiplus::GpSolidFill, BrushDeleter> brush(rawBrush);
    const Gdiplus::RectF layout(static_cast<float>(margin), static_cast<float>(margin), 0, 0);
    if (gdip::GdipDrawString(graphics.get(), text.c_str(), -1, font.get(), &layout, nullptr, brush.get()) !=
        Gdiplus::Ok)
      return false;
  }

  if (entries_.size() >= kCapacity) {
    const auto oldest = std::min_element(entries_.begin(), entries_.end(),
                                         [](const Entry& a, const Entry& b) { return a.lastUse < b.lastUse; });
    entries_.erase(oldest);
  }
  const Text drawn{bitmap.get(), width, height, margin};
  entries_.push_back(Entry{text, familyName, style, emSizePx, color, std::move(bitmap), drawn, ++uses_});
  *found = drawn;
  return true;
}

}  // namespace platform::win32
