// The archive download over every base URL that holds it.
//
// Policy: the URLs are tried in the order given, each once. An attempt that fails for the
// server's sake (an error status, a libcurl error, a stall under the task's window, a body past
// the archive's size) hands over to the next URL, which resumes after the bytes the partial
// archive holds by then, so nothing that arrived is fetched twice. A local file that cannot be
// opened, or no libcurl handle, ends the download at once: no server can help with that.
#pragma once

#include "net/download_task.h"

// Synchronous. Progress of every attempt ("restart" with the kept byte count before each next
// one), then exactly one "succ", or one "fail" with the last attempt's text once every URL failed.
void DownloadFromMirrors(const DownloadTask& task);
