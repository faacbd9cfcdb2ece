#include "platform/linux/gtk/cairo_canvas.h"

#include <cmath>
#include <cstring>

#include "platform/linux/gtk/text_images.h"
#include "platform/text_encoding.h"
#include "resources/embedded_resources.h"

namespace gtk_splash {
namespace {

// The Song typeface of the texts is rarely installed on Linux; its common alternatives follow.
const char* const kLabelFamilies = "宋体,SimSun,WenQuanYi Zen Hei";

struct PngReader {
  const unsigned char* data;
  std::size_t left;
};

cairo_status_t ReadPng(void* closure, unsigned char* out, unsigned int length) {
  auto* reader = static_cast<PngReader*>(closure);
  if (length > reader->left) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(out, reader->data, length);
  reader->data += length;
  reader->left -= length;
  return CAIRO_STATUS_SUCCESS;
}

bool Empty(const ui::RectF& r) { return !(r.width > 0) || !(r.height > 0); }

const cairo_user_data_key_t kPixelBufferKey{};

void ReturnPixelBuffer(void* buffer) {
  PixelBufferPool::Instance().Give(std::unique_ptr<PixelBuffer>(static_cast<PixelBuffer*>(buffer)));
}

}  // namespace

CairoImage::CairoImage(CairoSurfacePtr surface) : surface_(std::move(surface)), width_(0), height_(0) {
  // A resource that does not decode is an image of size 0 that draws nothing.
  if (cairo_surface_status(surface_.get()) == CAIRO_STATUS_SUCCESS) {
    width_ = cairo_image_surface_get_width(surface_.get());
    height_ = cairo_image_surface_get_height(surface_.get());
  }
}

CairoSurface::CairoSurface(CairoSurfacePtr surface, CairoPtr context, PixelBuffer* buffer)
    : surface_(std::move(surface)), cairo_(std::move(context)), buffer_(buffer) {}

void CairoSurface::AddDrawn(const ui::Rect& area) {
  const ui::Rect grown = UnionOf(buffer_->drawn, area);
  // Kept within the surface, where Clear() works.
  const std::int32_t left = std::max(grown.x, 0), top = std::max(grown.y, 0);
  const std::int32_t right = std::min(grown.x + grown.width, Width());
  const std::int32_t bottom = std::min(grown.y + grown.height, Height());
  buffer_->drawn = (right > left && bottom > top) ? ui::Rect{left, top, right - left, bottom - top} : ui::Rect{};
}

int CairoSurface::Width() const { return cairo_image_surface_get_width(surface_.get()); }
int CairoSurface::Height() const { return cairo_image_surface_get_height(surface_.get()); }

std::uint32_t CairoSurface::PixelAt(int x, int y) {
  cairo_surface_flush(surface_.get());
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) return 0;
  const unsigned char* row = cairo_image_surface_get_data(surface_.get()) +
                             static_cast<std::ptrdiff_t>(y) * cairo_image_surface_get_stride(surface_.get());
  std::uint32_t pixel;
  std::memcpy(&pixel, row + static_cast<std::ptrdiff_t>(x) * 4, sizeof pixel);
  return pixel;  // CAIRO_FORMAT_ARGB32 is native-endian premultiplied ARGB
}

CairoSurfacePtr ApplyMatrix(cairo_surface_t* source, const ui::ColorMatrix& matrix) {
  const int width = cairo_image_surface_get_width(source);
  const int height = cairo_image_surface_get_height(source);
  CairoSurfacePtr copy(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  if (cairo_surface_status(copy.get()) != CAIRO_STATUS_SUCCESS) return copy;
  cairo_surface_flush(source);
  cairo_surface_flush(copy.get());
  const int inStride = cairo_image_surface_get_stride(source);
  const int outStride = cairo_image_surface_get_stride(copy.get());
  const unsigned char* in = cairo_image_surface_get_data(source);
  unsigned char* out = cairo_image_surface_get_data(copy.get());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint32_t pixel;
      std::memcpy(&pixel, in + static_cast<std::ptrdiff_t>(y) * inStride + x * 4, sizeof pixel);
      pixel = ui::ApplyColorMatrix(matrix, pixel);
      std::memcpy(out + static_cast<std::ptrdiff_t>(y) * outStride + x * 4, &pixel, sizeof pixel);
    }
  }
  cairo_surface_mark_dirty(copy.get());
  return copy;
}

void CairoSurface::DrawImagePart(const ui::Image& image, const ui::RectF& destination, const ui::RectF& source,
                                 const ui::ColorMatrix& matrix) {
  if (Empty(destination) || Empty(source)) return;
  const auto& cairoImage = static_cast<const CairoImage&>(image);
  if (cairoImage.Width() <= 0 || cairoImage.Height() <= 0) return;
  CairoSurfacePtr tinted;
  cairo_surface_t* pixels = cairoImage.Surface();
  if (!ui::IsIdentity(matrix)) {
    tinted = ApplyMatrix(pixels, matrix);
    pixels = tinted.get();
  }
  cairo_t* cr = cairo_.get();
  AddDrawn(Covering(destination.x, destination.y, destination.width, destination.height));
  cairo_save(cr);
  cairo_rectangle(cr, destination.x, destination.y, destination.width, destination.height);
  cairo_clip(cr);
  cairo_translate(cr, destination.x, destination.y);
  cairo_scale(cr, destination.width / source.width, destination.height / source.height);
  cairo_set_source_surface(cr, pixels, -source.x, -source.y);
  // Edges of a scaled part repeat the part's own border pixels rather than fading out.
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_paint(cr);
  cairo_restore(cr);
}

void CairoSurface::DrawString(const std::string& gbkText, const ui::FontFamily& family, int style, float emSizePx,
                              float x, float y, ui::Argb color) {
  if (gbkText.empty() || !(emSizePx > 0)) return;
  const auto& pangoFamily = static_cast<const PangoFontFamily&>(family);
  cairo_t* cr = cairo_.get();
  const TextStyle textStyle{pangoFamily.Families(), (style & ui::kFontStyleBold) != 0, static_cast<double>(emSizePx),
                            color};
  const TextImage text = TextImages::ForThisThread().Get(cr, textStyle, gbkText, x, y);
  if (!text.pixels) return;
  AddDrawn(text.area);
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
  cairo_set_source_surface(cr, text.pixels, text.area.x, text.area.y);
  cairo_rectangle(cr, text.area.x, text.area.y, text.area.width, text.area.height);
  cairo_fill(cr);
  cairo_restore(cr);
}

}  // namespace gtk_splash

namespace ui {

std::unique_ptr<Image> LoadPngResource(unsigned resourceId) {
  const auto* resource = resources::FindEmbeddedResource(resourceId & 0xFFFFu);
  if (!resource || resource->size == 0) return nullptr;
  gtk_splash::PngReader reader{resource->data, resource->size};
  gtk_splash::CairoSurfacePtr surface(cairo_image_surface_create_from_png_stream(gtk_splash::ReadPng, &reader));
  if (cairo_surface_status(surface.get()) == CAIRO_STATUS_NO_MEMORY) return nullptr;
  return std::make_unique<gtk_splash::CairoImage>(std::move(surface));
}

std::unique_ptr<FontFamily> CreateFontFamily(const std::string& gbkName) {
  // The label typeface's name maps to the family list; any other name is used as it is.
  const std::string name = platform::GbkToUtf8(gbkName);
  return std::make_unique<gtk_splash::PangoFontFamily>(name == "宋体" ? gtk_splash::kLabelFamilies : name);
}

std::unique_ptr<Surface> CreateSurface(int width, int height) {
  if (width <= 0 || height <= 0) return nullptr;
  const int stride = cairo_format_stride_for_width(CAIRO_FORMAT_ARGB32, width);
  if (stride <= 0) return nullptr;
  auto buffer = gtk_splash::PixelBufferPool::Instance().Take(width, height, stride);
  if (!buffer) return nullptr;
  gtk_splash::CairoSurfacePtr surface(
      cairo_image_surface_create_for_data(buffer->data, CAIRO_FORMAT_ARGB32, width, height, stride));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  // The buffer goes back to the pool when the last reference to the surface is dropped (the
  // window may keep showing it after this object is gone).
  gtk_splash::PixelBuffer* pixels = buffer.get();
  if (cairo_surface_set_user_data(surface.get(), &gtk_splash::kPixelBufferKey, pixels, gtk_splash::ReturnPixelBuffer) !=
      CAIRO_STATUS_SUCCESS)
    return nullptr;
  buffer.release();
  gtk_splash::CairoPtr context(cairo_create(surface.get()));
  if (cairo_status(context.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  return std::make_unique<gtk_splash::CairoSurface>(std::move(surface), std::move(context), pixels);
}

}  // namespace ui
