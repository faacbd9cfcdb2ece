// Ending the process the way the launcher does: a quick exit, no destructors, no joins.
#pragma once

#include <functional>

namespace platform {

// Flushes standard output and ends the process at once with `code`.
[[noreturn]] void QuickExit(int code);

// Tests replace the exit so a stage machine can be driven inside one process;
// while a hook is set, QuickExit calls it and then parks the calling thread for good.
void SetExitHookForTesting(std::function<void(int)> hook);

}  // namespace platform
