// The Windows entry point: the whole run is the launcher's, the same as on Linux.
#include <windows.h>

#include "app/launcher_main.h"
#include "platform/win32/module_instance.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  platform::win32::SetModuleInstance(instance);
  return LauncherMain();
}
