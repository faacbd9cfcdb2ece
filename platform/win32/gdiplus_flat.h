// The GDI+ flat interface (the C functions behind the C++ wrapper classes).
#pragma once

#include <windows.h>
// After windows.h, which they need.
#include <gdiplus.h>
#include <objidl.h>

namespace platform::win32 {
namespace gdip = Gdiplus::DllExports;

// Owners of the flat interface's objects, for std::unique_ptr.
struct FontDeleter {
  void operator()(Gdiplus::GpFont* font) const { gdip::GdipDeleteFont(font); }
};
struct BrushDeleter {
  void operator()(Gdiplus::GpSolidFill* brush) const { gdip::GdipDeleteBrush(brush); }
};
}  // namespace platform::win32
