// The pixels of a surface with alpha above 0, as rectangles for a window's input shape (and,
// without a compositor, its visible shape). GDK's own helper would keep only pixels more than
// half opaque.
#pragma once

#include <cairo.h>

#include <vector>

#include "ui/geometry.h"

namespace gtk_splash {

// Runs of pixels with alpha above 0 within `area` (every pixel outside it is transparent), in
// the order X calls YX-banded: bands from top to bottom, runs from left to right. A row whose
// runs match the band above it extends that band, so a solid block is one rectangle.
std::vector<ui::Rect> OpaqueRectangles(cairo_surface_t* surface, const ui::Rect& area);

}  // namespace gtk_splash
