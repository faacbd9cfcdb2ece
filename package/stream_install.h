// The install of a package that was unpacked while it downloaded: the staged files are
// committed only when the finished archive's central directory agrees with them.
#pragma once

#include <string>

#include "package/stream_unpack.h"
#include "package/unzip_callback.h"

// The reason the central directory of the finished archive at `archivePath` disagrees with
// what the stream staged, or "" when it agrees; on agreement the staged files under `staging`
// are given the permission bits the central directory carries.
std::string CompareWithCentralDirectory(const std::string& archivePath, const StreamOutcome& outcome,
                                        const std::string& staging);

// The install of `task` through what `stream` staged: committed when the stream is complete
// and agrees with the central directory, otherwise InstallThroughStaging. One final call.
bool InstallStreamed(const UnzipTask& task, StreamUnpack& stream);
