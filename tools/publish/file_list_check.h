// `launcher-publish verify`'s check of a release's file list against its archive, read as a
// launcher reads it: the central directory found from the archive's end and matched with the
// list (names, sizes, CRC-32), then every listed entry inflated and its SHA-256 compared, and
// every file entry of the archive required to be listed (a file the list misses would never be
// repaired or removed by a launcher).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "update/file_manifest.h"

namespace publish {

// One text per problem found, each naming the file; empty when the list and the archive agree.
// At most `maxProblems` texts, the last of them saying how many more there were.
std::vector<std::string> FileListProblems(const std::filesystem::path& archive, const std::vector<ManifestFile>& files,
                                          std::size_t maxProblems = 10);

}  // namespace publish
