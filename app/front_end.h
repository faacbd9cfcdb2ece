// A front end shows the run to the player: the splash window where there is a display,
// otherwise the terminal. It owns the window thread's loop.
#pragma once

#include <functional>

#include "app/frame_pacer.h"
#include "platform/instance_guard.h"
#include "ui/splash_state.h"

// Everything a front end calls into the launcher goes through these hooks, so the window
// code of each platform (library target `launcher_splash`) does not depend on the controller.
struct FrontEndHooks {
  std::function<void(double dt)> updateStageText;  // once per frame, window thread
  std::function<void()> onCloseClicked;            // the close button's click handler
  SplashState* splash = nullptr;
  platform::InstanceGuard* guard = nullptr;  // activation requests of later starts arrive here
  // Window set-up's tail, run once the window (if any) exists: seeds the generator, builds the
  // channel URLs, hides the elements shown only later, starts the first check.
  std::function<void()> startFlow;
};

// The exit code of a run that ended before its first check because no splash window could be
// made; every other end of a run is 0.
inline constexpr int kNoSplashWindowExitCode = 3;

// Runs until the process ends; returns the loop's exit code when it ends on its own.
int RunTerminalFrontEnd(const FrontEndHooks& hooks);

// The splash window of this platform. False from Available when no display can be opened.
bool SplashFrontEndAvailable();
int RunSplashFrontEnd(const FrontEndHooks& hooks);
