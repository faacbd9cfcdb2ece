// Drawing of the splash with the GDI+ flat interface: PNG images from the program's resources,
// image parts through a colour matrix, GBK texts in a named typeface, onto a DIB section.
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/win32/gdiplus_surface.h"
#include "platform/win32/module_instance.h"
#include "platform/win32/rendered_texts.h"
#include "platform/win32/wide_text.h"
#include "ui/drawn_bounds.h"

namespace platform::win32 {
namespace {

class GdiplusImage final : public ui::Image {
 public:
  explicit GdiplusImage(Gdiplus::GpImage* image) : image_(image) {}
  GdiplusImage(const GdiplusImage&) = delete;
  GdiplusImage& operator=(const GdiplusImage&) = delete;
  ~GdiplusImage() override {
    if (image_) gdip::GdipDisposeImage(image_);
  }
  int Width() const override { return Dimension(&gdip::GdipGetImageWidth); }
  int Height() const override { return Dimension(&gdip::GdipGetImageHeight); }
  Gdiplus::GpImage* Get() const { return image_; }

 private:
  int Dimension(Gdiplus::GpStatus (*query)(Gdiplus::GpImage*, UINT*)) const {
    UINT value = 0;
    if (!image_ || query(image_, &value) != Gdiplus::Ok) return 0;
    return static_cast<int>(value);
  }
  Gdiplus::GpImage* image_;  // null when the bytes did not decode: size 0 x 0, draws nothing
};

class GdiplusFontFamily final : public ui::FontFamily {
 public:
  explicit GdiplusFontFamily(Gdiplus::GpFontFamily* family) : family_(family) {}
  GdiplusFontFamily(const GdiplusFontFamily&) = delete;
  GdiplusFontFamily& operator=(const GdiplusFontFamily&) = delete;
  ~GdiplusFontFamily() override { gdip::GdipDeleteFontFamily(family_); }
  Gdiplus::GpFontFamily* Get() const { return family_; }

 private:
  Gdiplus::GpFontFamily* family_;
};

struct ImageAttributesDeleter {
  void operator()(Gdiplus::GpImageAttributes* attributes) const { gdip::GdipDisposeImageAttributes(attributes); }
};
struct StreamReleaser {
  void operator()(IStream* stream) const { stream->Release(); }
};

// A movable global block holding a copy of the resource's bytes; null when memory runs out.
HGLOBAL CopyToGlobal(const void* bytes, DWORD size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (!block) return nullptr;
  void* target = GlobalLock(block);
  if (!target) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(target, bytes, size);
  GlobalUnlock(block);
  return block;
}

}  // namespace

GdiplusSurface::GdiplusSurface(int width, int height)
    : width_(width), height_(height), canvas_(DibCanvasPool::Instance().Take(width, height)) {
  if (canvas_) graphics_ = canvas_->Graphics();
}

GdiplusSurface::~GdiplusSurface() {
  if (!canvas_) return;
  canvas_->SetDrawn(DrawnBounds());
  DibCanvasPool::Instance().Give(std::move(canvas_));
}

HDC GdiplusSurface::FinishedDc() {
  if (graphics_) gdip::GdipFlush(graphics_, Gdiplus::FlushIntentionSync);
  GdiFlush();
  return canvas_ ? canvas_->Dc() : nullptr;
}

ui::Rect GdiplusSurface::DrawnBounds() {
  if (!drawnKnown_) {
    FinishedDc();
    drawn_ = ui::DrawnBounds(Bits(), width_, height_);
    drawnKnown_ = true;
  }
  return drawn_;
}

std::uint32_t GdiplusSurface::PixelAt(int x, int y) {
  if (!canvas_ || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  FinishedDc();
  // Little-endian B, G, R, A bytes read as one 32-bit ARGB value.
  return Bits()[static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x)];
}

void GdiplusSurface::DrawImagePart(const ui::Image& image, const ui::RectF& destination, const ui::RectF& source,
                                   const ui::ColorMatrix& matrix) {
  const auto* gdiplusImage = dynamic_cast<const GdiplusImage*>(&image);
  if (!graphics_ || !gdiplusImage || !gdiplusImage->Get()) return;
  if (destination.width <= 0 || destination.height <= 0 || source.width <= 0 || source.height <= 0) return;
  drawnKnown_ = false;

  Gdiplus::ColorMatrix colorMatrix{};
  for (std::size_t row = 0; row < 5; ++row)
    for (std::size_t column = 0; column < 5; ++column) colorMatrix.m[row][column] = matrix[row][column];
  Gdiplus::GpImageAttributes* rawAttributes = nullptr;
  if (gdip::GdipCreateImageAttributes(&rawAttributes) != Gdiplus::Ok) return;
  std::unique_ptr<Gdiplus::GpImageAttributes, ImageAttributesDeleter> attributes(rawAttributes);
  gdip::GdipSetImageAttributesColorMatrix(attributes.get(), Gdiplus::ColorAdjustTypeDefault, TRUE, &colorMatrix,
                                          nullptr, Gdiplus::ColorMatrixFlagsDefault);
  gdip::GdipDrawImageRectRect(graphics_, gdiplusImage->Get(), destination.x, destination.y, destination.width,
                              destination.height, source.x, source.y, source.width, source.height, Gdiplus::UnitPixel,
                              attributes.get(), nullptr, nullptr);
}

void GdiplusSurface::DrawString(const std::string& gbkText, const ui::FontFamily& family, int style, float emSizePx,
                                float x, float y, ui::Argb color) {
  const auto* gdiplusFamily = dynamic_cast<const GdiplusFontFamily*>(&family);
  if (!graphics_ || !gdiplusFamily) return;
  const std::wstring text = GbkToWide(gbkText);
  drawnKnown_ = false;
  // At a whole pixel, the text drawn once before is composed as an image, pixel for pixel where
  // a drawing of its own would put it; between pixels it is drawn here.
  RenderedTexts::Text rendered{};
  if (x == std::floor(x) && y == std::floor(y) &&
      RenderedTexts::Instance().Find(graphics_, text, gdiplusFamily->Get(), style, emSizePx, color, &rendered)) {
    gdip::GdipDrawImageRectRectI(graphics_, rendered.bitmap, static_cast<INT>(x) - rendered.margin,
                                 static_cast<INT>(y) - rendered.margin, rendered.width, rendered.height, 0, 0,
                                 rendered.width, rendered.height, Gdiplus::UnitPixel, nullptr, nullptr, nullptr);
    return;
  }
  Gdiplus::GpFont* rawFont = nullptr;
  if (gdip::GdipCreateFont(gdiplusFamily->Get(), emSizePx, style, Gdiplus::UnitPixel, &rawFont) != Gdiplus::Ok) return;
  std::unique_ptr<Gdiplus::GpFont, FontDeleter> font(rawFont);
  Gdiplus::GpSolidFill* rawBrush = nullptr;
  if (gdip::GdipCreateSolidFill(color, &rawBrush) != Gdiplus::Ok) return;
  std::unique_ptr<Gdiplus::GpSolidFill, BrushDeleter> brush(rawBrush);
  // A layout box of size 0: the text starts at (x, y) and is neither wrapped nor clipped.
  const Gdiplus::RectF layout(x, y, 0, 0);
  gdip::GdipDrawString(graphics_, text.c_str(), -1, font.get(), &layout, nullptr, brush.get());
}

}  // namespace platform::win32

namespace ui {

std::unique_ptr<Image> LoadPngResource(unsigned resourceId) {
  using namespace platform::win32;
  HMODULE module = ModuleInstance();
  HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(resourceId & 0xFFFFu), L"PNG");
  if (!resource) return nullptr;
  const DWORD size = SizeofResource(module, resource);
  if (size == 0) return nullptr;
  HGLOBAL loaded = LoadResource(module, resource);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes) return nullptr;
  HGLOBAL block = CopyToGlobal(bytes, size);
  if (!block) return nullptr;
  IStream* rawStream = nullptr;
  // The stream owns the block from here and frees it with its last reference.
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, &rawStream))) {
    GlobalFree(block);
    return nullptr;
  }
  std::unique_ptr<IStream, StreamReleaser> stream(rawStream);
  Gdiplus::GpImage* image = nullptr;
  // The image keeps its own reference to the stream for as long as it lives.
  if (gdip::GdipLoadImageFromStream(stream.get(), &image) != Gdiplus::Ok) image = nullptr;
  return std::make_unique<GdiplusImage>(image);
}

std::unique_ptr<FontFamily> CreateFontFamily(const std::string& gbkName) {
  Gdiplus::GpFontFamily* family = nullptr;
  const std::wstring name = platform::win32::GbkToWide(gbkName);
  if (platform::win32::gdip::GdipCreateFontFamilyFromName(name.c_str(), nullptr, &family) != Gdiplus::Ok)
    return nullptr;
  return std::make_unique<platform::win32::GdiplusFontFamily>(family);
}

std::unique_ptr<Surface> CreateSurface(int width, int height) {
  auto surface = std::make_unique<platform::win32::GdiplusSurface>(width, height);
  if (!surface->Valid()) return nullptr;
  return surface;
}

}  // namespace ui
