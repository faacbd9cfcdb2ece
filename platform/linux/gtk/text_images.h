// The splash's texts as images, kept between render passes. The stage text's four dot counts
// come back every two seconds; laying a text out and rasterising its glyphs afresh each time
// cost far more than copying the finished pixels, and touched far more memory.
#pragma once

#include <cairo.h>
#include <pango/pango.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/gtk/cairo_owners.h"
#include "ui/canvas.h"

namespace gtk_splash {

struct TextStyle {
  std::string families;  // a comma-separated family list, UTF-8
  bool bold = false;
  double sizePx = 0;
  ui::Argb color = 0;
  friend bool operator==(const TextStyle&, const TextStyle&) = default;
};

struct TextImage {
  cairo_surface_t* pixels = nullptr;  // premultiplied ARGB32: the text in its colour over nothing
  ui::Rect area;                      // where the pixels go on the surface drawn on
};

class TextImages {
 public:
  // `gbkText` in `style`, its layout's top-left at (x, y) of `cr`'s surface, with room around
  // every glyph's ink. `cr` must draw untransformed. The pixels stay valid until the next call.
  TextImage Get(cairo_t* cr, const TextStyle& style, const std::string& gbkText, double x, double y);

  // The images of the calling thread: pango's font map, and so every layout, is per thread.
  static TextImages& ForThisThread();

 private:
  struct Entry {
    TextStyle style;
    std::string gbkText;
    double fractionX = 0, fractionY = 0;  // glyphs rasterise differently at other sub-pixel places
    CairoSurfacePtr pixels;
    ui::Rect area;  // relative to the whole pixel at or before (x, y)
    std::uint64_t lastUse = 0;
  };
  // The stage text's variants, the size and the speed texts and some room for their changes.
  static constexpr std::size_t kCapacity = 16;

  // Whether `cr` gives the same font options as last time; remembers what it gives now.
  bool InStepWith(cairo_t* cr);
  Entry Render(const TextStyle& style, const std::string& gbkText, double fractionX, double fractionY);

  GObjectPtr<PangoContext> context_;
  FontOptionsPtr seenSurfaceOptions_;
  FontOptionsPtr seenOwnOptions_;
  std::vector<Entry> entries_;
  std::uint64_t uses_ = 0;
};

}  // namespace gtk_splash
