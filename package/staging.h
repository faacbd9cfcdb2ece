// Installing a package in two steps: unpack into a staging folder inside the data folder, then
// commit the staged files into place by renames.
//
// Policy: while entries are being inflated and checked, nothing of the installed tree changes;
// a failed or interrupted unpacking costs the staging folder only. The commit renames within
// one file system, folders before what they hold, and replaces links or folders in a file's
// place (and links or files in a folder's place) without following them, exactly as unpacking
// in place does. The caller holds the record's "not installed yet" mark across both steps, so a
// run killed at any moment leaves the mark, and the next run unpacks and commits anew.
// Unpacking runs on one worker: measured with bench/unzip_bench on a two-core machine, inflating
// takes a sixth of the time (0.10 s of CPU in 0.60 s for 45 MB of deflated archive), the rest is
// writing, and two workers took 1.15 times as long as one. ZipUtil::UnzipAll takes more workers
// where the bench shows they pay.
#pragma once

#include <cstdint>
#include <string>

#include "package/unzip_callback.h"

// The staging folder's name inside the data folder; an archive entry of this name is refused.
inline constexpr const char* kStagingFolderName = ".staging";

// The workers that inflate entries side by side.
inline constexpr unsigned kUnpackWorkers = 1;

// Where the files of `destination` are staged.
std::string StagingFolderOf(const std::string& destination);

// The bytes of the files staged for `destination` now (0 when nothing is).
std::uint64_t StagedBytes(const std::string& destination);

// Removes the staging folder of `destination` with all in it, never through a link. False when
// something stays.
bool DiscardStaging(const std::string& destination);

// Moves everything below `staging` to the same place below `destination`, reporting ("unzip",
// path, done, total) after each path. False, with the text of the "fail" payload in `failure`,
// when a path cannot be moved; the paths moved before it stay moved.
bool CommitStaged(const std::string& staging, const std::string& destination, const UnzipCallback& callback,
                  std::string& failure);

// The whole install of `task`: staging emptied, the archive unpacked into it (as
// ZipUtil::UnzipAll), committed, and the staging folder removed, with exactly one final call.
// False after a "fail".
bool InstallThroughStaging(const UnzipTask& task);
