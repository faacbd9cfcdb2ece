// The splash's off-screen surface on Windows: a 32-bit top-down DIB section (a bitmap
// compatible with a screen DC need not keep alpha) in a memory DC, drawn with GDI+ and shown
// with UpdateLayeredWindow. The DC, the section and the graphics come from DibCanvasPool and go
// back to it with the surface.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "platform/win32/dib_canvas_pool.h"
#include "platform/win32/gdiplus_flat.h"
#include "ui/canvas.h"

namespace platform::win32 {

class GdiplusSurface final : public ui::Surface, private ui::Canvas {
 public:
  GdiplusSurface(int width, int height);
  GdiplusSurface(const GdiplusSurface&) = delete;
  GdiplusSurface& operator=(const GdiplusSurface&) = delete;
  ~GdiplusSurface() override;

  bool Valid() const { return canvas_ != nullptr; }
  int Width() const override { return width_; }
  int Height() const override { return height_; }
  ui::Canvas& GetCanvas() override { return *this; }
  std::uint32_t PixelAt(int x, int y) override;
  // The memory DC holding the finished drawing; pending drawing is flushed first.
  HDC FinishedDc();
  // The finished drawing's premultiplied ARGB rows, top-down; call FinishedDc first.
  const std::uint32_t* Bits() const { return canvas_ ? canvas_->Bits() : nullptr; }
  // The bounds of the pixels drawn so far that are not fully transparent (ui::DrawnBounds),
  // looked for once after each drawing; pending drawing is flushed first.
  ui::Rect DrawnBounds();

 private:
  void DrawImagePart(const ui::Image& image, const ui::RectF& destination, const ui::RectF& source,
                     const ui::ColorMatrix& matrix) override;
  void DrawString(const std::string& gbkText, const ui::FontFamily& family, int style, float emSizePx, float x, float y,
                  ui::Argb color) override;

  int width_;
  int height_;
  std::unique_ptr<DibCanvas> canvas_;
  Gdiplus::GpGraphics* graphics_ = nullptr;  // canvas_'s
  ui::Rect drawn_;
  bool drawnKnown_ = true;  // nothing drawn yet: all zero
};

}  // namespace platform::win32
