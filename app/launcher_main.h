#pragma once

// The whole run after the platform's entry point has recorded its arguments:
// single-instance guard, the controller, the front end. Returns the process exit code.
int LauncherMain();
