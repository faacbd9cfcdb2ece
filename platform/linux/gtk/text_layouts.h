// Laid-out texts of the splash, kept between render passes. The stage text's four dot counts
// come back every two seconds; setting up a pango context and shaping a text afresh for each
// of them cost more than drawing it.
#pragma once

#include <cairo.h>
#include <pango/pango.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/gtk/cairo_owners.h"

namespace gtk_splash {

class TextLayouts {
 public:
  // The layout of `gbkText` in the font given, with no wrapping, in step with `cr`'s font
  // options and transformation. It stays valid until the next call.
  PangoLayout* Get(cairo_t* cr, const std::string& families, bool bold, double sizePx, const std::string& gbkText);

  // The layouts of the calling thread: pango's font map, and so every layout, is per thread.
  static TextLayouts& ForThisThread();

 private:
  struct Entry {
    std::string families;
    bool bold = false;
    double sizePx = 0;
    std::string gbkText;
    GObjectPtr<PangoLayout> layout;
    std::uint64_t lastUse = 0;
  };
  // The stage text's variants, the size and the speed texts and some room for their changes.
  static constexpr std::size_t kCapacity = 16;

  GObjectPtr<PangoLayout> Create(const std::string& families, bool bold, double sizePx, const std::string& gbkText);

  // Whether `cr` gives the context what it gave last time; remembers what it gives now.
  bool InStepWith(cairo_t* cr);

  GObjectPtr<PangoContext> context_;
  FontOptionsPtr seenSurfaceOptions_;
  FontOptionsPtr seenOwnOptions_;
  cairo_matrix_t seenMatrix_{};
  std::vector<Entry> entries_;
  std::uint64_t uses_ = 0;
};

}  // namespace gtk_splash
