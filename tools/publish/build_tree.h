// The contents of a game build folder, in the order they go into the package archive.
//
// Policy: every regular file and every folder below the build folder is packed, named by its
// path relative to the build folder with "/" between folders. A symbolic link to a file is
// packed as the file it points to (the player's system may not know links); a link to a
// folder, or anything that is neither file nor folder, stops the publication, since packing
// it would either duplicate a subtree or lose it without notice. So does a name that is not
// UTF-8 or a file the publisher cannot open: both are found while listing, before the archive
// is begun.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace publish {

struct BuildEntry {
  std::string name;              // "assets/pack0.bin"; folders without a trailing "/"
  std::filesystem::path source;  // where to read the file from
  bool isFolder = false;
  std::uint32_t permissions = 0;  // read, write and execute bits (at most 0777)
  std::uint64_t size = 0;         // 0 for folders
  std::time_t modified = 0;       // last write, seconds since 1970
};

// Folders before their contents, names in byte order within each folder, so the same build
// always gives the same archive. Throws PublishError when the folder cannot be listed or holds
// something that cannot be packed (the message names it).
std::vector<BuildEntry> ListBuildTree(const std::filesystem::path& buildFolder);

// Number of files (not folders) in the list.
std::size_t CountFiles(const std::vector<BuildEntry>& entries);

// Sum of the file sizes.
std::uint64_t TotalBytes(const std::vector<BuildEntry>& entries);

}  // namespace publish
