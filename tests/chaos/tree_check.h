// Comparing what the launcher left on disk with what was published, and finding anything it
// wrote where it must not.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <vector>

namespace chaos {

// One line per file of `build` that is missing from `data` or differs from it; empty when the
// data folder holds the exact published tree.
std::vector<std::string> TreeDifferences(const std::filesystem::path& build, const std::filesystem::path& data);

// Files below `data` that `build` does not have, besides the launcher's own (own_files.h), one
// line each; empty when nothing of another release or of an unfinished install is left.
std::vector<std::string> ExtraFiles(const std::filesystem::path& build, const std::filesystem::path& data);

// Every path below `root`, relative to it.
std::set<std::string> ListTree(const std::filesystem::path& root);

// Paths below `root` that are not below `allowed` and were not in `before`.
std::vector<std::string> NewPathsOutside(const std::filesystem::path& root, const std::filesystem::path& allowed,
                                         const std::set<std::string>& before);

}  // namespace chaos
