// The box the player sees when a document request has spent its whole failover budget.
#pragma once

class SplashState;

// Shows the close button (it stays visible), brings the splash to the front and asks
// Retry/Cancel. Cancel ends the process at once with code 0 and does not return; otherwise the
// caller repeats the step that timed out. `splash` may be null when there is no splash.
void ShowTimeoutDialog(SplashState* splash);
