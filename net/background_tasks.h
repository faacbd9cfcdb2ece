// All network and disk work runs on detached threads: a job is moved onto a new thread,
// the starter waits only until that thread has taken the job over, and nothing ever joins.
#pragma once

#include <functional>

// Starts `job` on a new detached thread and returns once the thread owns it.
// Throws std::system_error when the thread cannot be created.
void RunDetached(std::function<void()> job);

// Runs `job` once, no earlier than `delayMs` milliseconds from now, on a new detached thread.
void RunAfterDelay(int delayMs, std::function<void()> job);
