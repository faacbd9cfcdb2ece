// The splash's off-screen surface on Windows: a 32-bit top-down DIB section (a bitmap
// compatible with a screen DC need not keep alpha) in a memory DC, drawn with GDI+ and shown
// with UpdateLayeredWindow.
#pragma once

#include <windows.h>

#include <cstdint>

#include "platform/win32/gdiplus_flat.h"
#include "ui/canvas.h"

namespace platform::win32 {

class GdiplusSurface final : public ui::Surface, private ui::Canvas {
 public:
  GdiplusSurface(int width, int height);
  GdiplusSurface(const GdiplusSurface&) = delete;
  GdiplusSurface& operator=(const GdiplusSurface&) = delete;
  ~GdiplusSurface() override;

  bool Valid() const { return memoryDc_ != nullptr && bits_ != nullptr && graphics_ != nullptr; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  ui::Canvas& GetCanvas() override { return *this; }
  std::uint32_t PixelAt(int x, int y) override;
  // The memory DC holding the finished drawing; pending drawing is flushed first.
  HDC FinishedDc();
  // The finished drawing's premultiplied ARGB rows, top-down; call FinishedDc first.
  const std::uint32_t* Bits() const { return bits_; }

 private:
  void DrawImagePart(const ui::Image& image, const ui::RectF& destination, const ui::RectF& source,
                     const ui::ColorMatrix& matrix) override;
  void DrawString(const std::string& gbkText, const ui::FontFamily& family, int style, float emSizePx, float x, float y,
                  ui::Argb color) override;

  int width_;
  int height_;
  HDC memoryDc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ previousBitmap_ = nullptr;
  std::uint32_t* bits_ = nullptr;
  Gdiplus::GpGraphics* graphics_ = nullptr;
};

}  // namespace platform::win32
