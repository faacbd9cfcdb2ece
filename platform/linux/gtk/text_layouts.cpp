#include "platform/linux/gtk/text_layouts.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cstring>

#include "platform/text_encoding.h"

namespace gtk_splash {

TextLayouts& TextLayouts::ForThisThread() {
  thread_local TextLayouts layouts;
  return layouts;
}

PangoLayout* TextLayouts::Get(cairo_t* cr, const std::string& families, bool bold, double sizePx,
                              const std::string& gbkText) {
  if (!context_) context_.reset(pango_font_map_create_context(pango_cairo_font_map_get_default()));
  // pango counts every update of the context as a change that lays every text out again, even
  // when nothing differs; it is updated only when what it takes from `cr` has changed.
  if (!InStepWith(cr)) {
    pango_cairo_update_context(cr, context_.get());
    entries_.clear();
  }
  ++uses_;
  for (Entry& entry : entries_) {
    if (entry.bold == bold && entry.sizePx == sizePx && entry.gbkText == gbkText && entry.families == families) {
      entry.lastUse = uses_;
      return entry.layout.get();
    }
  }
  if (entries_.size() >= kCapacity) {
    entries_.erase(std::min_element(entries_.begin(), entries_.end(),
                                    [](const Entry& a, const Entry& b) { return a.lastUse < b.lastUse; }));
  }
  entries_.push_back(Entry{families, bold, sizePx, gbkText, Create(families, bold, sizePx, gbkText), uses_});
  return entries_.back().layout.get();
}

bool TextLayouts::InStepWith(cairo_t* cr) {
  FontOptionsPtr surfaceOptions(cairo_font_options_create());
  cairo_surface_get_font_options(cairo_get_target(cr), surfaceOptions.get());
  FontOptionsPtr ownOptions(cairo_font_options_create());
  cairo_get_font_options(cr, ownOptions.get());
  cairo_matrix_t matrix;
  cairo_get_matrix(cr, &matrix);
  matrix.x0 = matrix.y0 = 0;  // a translation moves a text without changing its layout
  const bool same = seenSurfaceOptions_ && cairo_font_options_equal(surfaceOptions.get(), seenSurfaceOptions_.get()) &&
                    cairo_font_options_equal(ownOptions.get(), seenOwnOptions_.get()) &&
                    std::memcmp(&matrix, &seenMatrix_, sizeof matrix) == 0;
  seenSurfaceOptions_ = std::move(surfaceOptions);
  seenOwnOptions_ = std::move(ownOptions);
  seenMatrix_ = matrix;
  return same;
}

GObjectPtr<PangoLayout> TextLayouts::Create(const std::string& families, bool bold, double sizePx,
                                            const std::string& gbkText) {
  GObjectPtr<PangoLayout> layout(pango_layout_new(context_.get()));
  FontDescriptionPtr font(pango_font_description_new());
  pango_font_description_set_family(font.get(), families.c_str());
  pango_font_description_set_weight(font.get(), bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_absolute_size(font.get(), sizePx * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font.get());
  pango_layout_set_width(layout.get(), -1);  // no wrapping
  const std::string utf8 = platform::GbkToUtf8(gbkText);
  pango_layout_set_text(layout.get(), utf8.c_str(), static_cast<int>(utf8.size()));
  return layout;
}

}  // namespace gtk_splash
