// The module instance handle of the process, stored by the entry point.
#pragma once

#include <windows.h>

namespace platform::win32 {

void SetModuleInstance(HINSTANCE instance);
// The stored handle, or the executable's own when the entry point stored none (tests).
HINSTANCE ModuleInstance();

}  // namespace platform::win32
