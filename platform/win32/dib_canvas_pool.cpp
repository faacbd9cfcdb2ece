#include "platform/win32/dib_canvas_pool.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace platform::win32 {

DibCanvas::DibCanvas(int width, int height) : width_(width), height_(height) {
  if (width <= 0 || height <= 0) return;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // negative: rows top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  dc_ = CreateCompatibleDC(nullptr);
  if (!dc_) return;
  void* bits = nullptr;
  bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap_) return;
  bits_ = static_cast<std::uint32_t*>(bits);  // zero-filled by the system: fully transparent
  previousBitmap_ = SelectObject(dc_, bitmap_);
  if (gdip::GdipCreateFromHDC(dc_, &graphics_) != Gdiplus::Ok) {
    graphics_ = nullptr;
    return;
  }
  // Grey-scale antialiasing: ClearType's coloured fringes need an opaque background.
  gdip::GdipSetTextRenderingHint(graphics_, Gdiplus::TextRenderingHintAntiAliasGridFit);
}

DibCanvas::~DibCanvas() {
  if (graphics_) gdip::GdipDeleteGraphics(graphics_);
  if (dc_ && previousBitmap_) SelectObject(dc_, previousBitmap_);
  if (bitmap_) DeleteObject(bitmap_);
  if (dc_) DeleteDC(dc_);
}

void DibCanvas::Clear() {
  const std::int32_t left = std::max(drawn_.x, 0);
  const std::int32_t top = std::max(drawn_.y, 0);
  const std::int32_t right = std::min(drawn_.x + drawn_.width, width_);
  const std::int32_t bottom = std::min(drawn_.y + drawn_.height, height_);
  GdiFlush();  // nothing of GDI's may land after the clearing
  for (std::int32_t y = top; y < bottom && left < right; ++y)
    std::memset(bits_ + static_cast<std::ptrdiff_t>(y) * width_ + left, 0, static_cast<std::size_t>(right - left) * 4);
  drawn_ = {};
}

DibCanvasPool& DibCanvasPool::Instance() {
  // Never destroyed: a surface may be released while the process ends.
  static auto* pool = new DibCanvasPool;
  return *pool;
}

std::unique_ptr<DibCanvas> DibCanvasPool::Take(int width, int height) {
  std::unique_ptr<DibCanvas> canvas;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto match = std::find_if(kept_.rbegin(), kept_.rend(), [&](const auto& kept) {
      return kept->Width() == width && kept->Height() == height;
    });
    if (match != kept_.rend()) {
      canvas = std::move(*match);
      kept_.erase(std::next(match).base());
    }
  }
  if (canvas) {
    canvas->Clear();
    return canvas;
  }
  canvas = std::make_unique<DibCanvas>(width, height);
  if (!canvas->Valid()) return nullptr;
  return canvas;
}

void DibCanvasPool::Give(std::unique_ptr<DibCanvas> canvas) {
  if (!canvas || !canvas->Valid()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (kept_.size() >= kKept) kept_.erase(kept_.begin());
  kept_.push_back(std::move(canvas));
}

}  // namespace platform::win32
