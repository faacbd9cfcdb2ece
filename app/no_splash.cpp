// Builds without a splash window run in the terminal only.
#include "app/front_end.h"

bool SplashFrontEndAvailable() { return false; }

int RunSplashFrontEnd(const FrontEndHooks& hooks) { return RunTerminalFrontEnd(hooks); }
