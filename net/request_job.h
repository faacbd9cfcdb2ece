#pragma once

#include "net/http_util.h"

// Starts HttpUtil::Request for the task on a new detached thread that owns the task; the
// callback runs on that thread. Throws std::system_error when no thread can be started.
void RunRequest(RequestTask task);
