#include "platform/linux/gtk/text_images.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>

#include "platform/linux/gtk/pixel_rects.h"
#include "platform/text_encoding.h"

namespace gtk_splash {
namespace {}  // namespace

TextImages& TextImages::ForThisThread() {
  thread_local TextImages images;
  return images;
}

TextImage TextImages::Get(cairo_t* cr, const TextStyle& style, const std::string& gbkText, double x, double y) {
  if (!context_) context_.reset(pango_font_map_create_context(pango_cairo_font_map_get_default()));
  // The images follow the font options of the surface drawn on. pango counts every update of
  // the context as a change, even when nothing differs, so it is updated only on a real one.
  if (!InStepWith(cr)) {
    pango_cairo_update_context(cr, context_.get());
    entries_.clear();
  }
  const double wholeX = std::floor(x), wholeY = std::floor(y);
  const double fractionX = x - wholeX, fractionY = y - wholeY;
  ++uses_;
  Entry* found = nullptr;
  for (Entry& entry : entries_) {
    if (entry.fractionX == fractionX && entry.fractionY == fractionY && entry.gbkText == gbkText &&
        entry.style == style) {
      found = &entry;
      break;
    }
  }
  if (!found) {
    if (entries_.size() >= kCapacity) {
      entries_.erase(std::min_element(entries_.begin(), entries_.end(),
                                      [](const Entry& a, const Entry& b) { return a.lastUse < b.lastUse; }));
    }
    entries_.push_back(Render(style, gbkText, fractionX, fractionY));
    found = &entries_.back();
  }
  found->lastUse = uses_;
  if (!found->pixels) return {};
  const ui::Rect& area = found->area;
  return {found->pixels.get(), Covering(wholeX + area.x, wholeY + area.y, area.width, area.height)};
}

bool TextImages::InStepWith(cairo_t* cr) {
  FontOptionsPtr surfaceOptions(cairo_font_options_create());
  cairo_surface_get_font_options(cairo_get_target(cr), surfaceOptions.get());
  FontOptionsPtr ownOptions(cairo_font_options_create());
  cairo_get_font_options(cr, ownOptions.get());
  const bool same = seenSurfaceOptions_ && cairo_font_options_equal(surfaceOptions.get(), seenSurfaceOptions_.get()) &&
                    cairo_font_options_equal(ownOptions.get(), seenOwnOptions_.get());
  seenSurfaceOptions_ = std::move(surfaceOptions);
  seenOwnOptions_ = std::move(ownOptions);
  return same;
}

TextImages::Entry TextImages::Render(const TextStyle& style, const std::string& gbkText, double fractionX,
                                     double fractionY) {
  Entry entry{style, gbkText, fractionX, fractionY, nullptr, {}, 0};
  GObjectPtr<PangoLayout> layout(pango_layout_new(context_.get()));
  FontDescriptionPtr font(pango_font_description_new());
  pango_font_description_set_family(font.get(), style.families.c_str());
  pango_font_description_set_weight(font.get(), style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_absolute_size(font.get(), style.sizePx * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font.get());
  pango_layout_set_width(layout.get(), -1);  // no wrapping
  const std::string utf8 = platform::GbkToUtf8(gbkText);
  pango_layout_set_text(layout.get(), utf8.c_str(), static_cast<int>(utf8.size()));

  // The text's boxes with room on every side, beyond every glyph's ink, so nothing is cut.
  PangoRectangle ink, logical;
  pango_layout_get_pixel_extents(layout.get(), &ink, &logical);
  const int left = std::min(ink.x, logical.x), top = std::min(ink.y, logical.y);
  const int right = std::max(ink.x + ink.width, logical.x + logical.width);
  const int bottom = std::max(ink.y + ink.height, logical.y + logical.height);
  const double room = std::ceil(std::max(2.0, style.sizePx / 4));
  entry.area =
      Covering(fractionX + left - room, fractionY + top - room, right - left + 2 * room, bottom - top + 2 * room);
  if (entry.area.width <= 0 || entry.area.height <= 0) return entry;

  CairoSurfacePtr pixels(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, entry.area.width, entry.area.height));
  CairoPtr cr(cairo_create(pixels.get()));
  if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return entry;
  cairo_translate(cr.get(), -entry.area.x, -entry.area.y);
  cairo_set_source_rgba(cr.get(), ui::RedOf(style.color) / 255.0, ui::GreenOf(style.color) / 255.0,
                        ui::BlueOf(style.color) / 255.0, ui::AlphaOf(style.color) / 255.0);
  cairo_move_to(cr.get(), fractionX, fractionY);
  // Laid out under the context's options, drawn here with the same: the layout is not redone.
  pango_cairo_show_layout(cr.get(), layout.get());
  cairo_surface_flush(pixels.get());
  entry.pixels = std::move(pixels);
  return entry;
}

}  // namespace gtk_splash
