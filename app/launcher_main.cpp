#include "app/launcher_main.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "app/front_end.h"
#include "app/launcher.h"
#include "app/production_services.h"
#include "app/settings.h"
#include "platform/instance_guard.h"

int LauncherMain() {
  auto guard = platform::AcquireSingleInstance(settings::kInstanceMutexName, settings::kActivationMessageName);
  if (!guard) {
    std::printf("another launcher is running; it was asked to come to the front\n");
    return 0;
  }

  // Owned here for the whole run; the run ends by a quick exit, so none of this is torn down.
  static SplashState splash;
  static ProductionServices services = MakeProductionServices(&splash);
  static Launcher launcher(services.View(), &splash);

  FrontEndHooks hooks;
  hooks.updateStageText = [](double dt) { launcher.UpdateStageText(dt); };
  hooks.onCloseClicked = [] { launcher.OnCloseClicked(); };
  hooks.splash = &splash;
  hooks.guard = guard.get();
  hooks.startFlow = [] {
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    launcher.BuildChannelUrls(settings::baseUrls);
    // Shown only once their stage comes.
    splash.SetStageVisible(false);
    splash.SetFillVisible(false);
    splash.SetSpeedVisible(false);
    splash.SetSizeVisible(false);
    launcher.StartCheck();
  };
  if (SplashFrontEndAvailable()) return RunSplashFrontEnd(hooks);
  return RunTerminalFrontEnd(hooks);
}
