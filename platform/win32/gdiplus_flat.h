// The GDI+ flat interface (the C functions behind the C++ wrapper classes).
#pragma once

#include <windows.h>
// After windows.h, which they need.
#include <gdiplus.h>
#include <objidl.h>

namespace platform::win32 {
namespace gdip = Gdiplus::DllExports;
}  // namespace platform::win32
