// Room for an update, asked before anything of it is written.
//
// Policy: the download folder must hold the archive's remaining bytes, and the data folder the
// staged files beside the installed ones (those are replaced only at the commit); where both
// folders lie on one volume the two add up. Each file is counted in whole 4 KiB blocks, as file
// systems allocate them. The staged size comes from the archive's central directory once the
// archive is on disk whole; before that the archive's own size stands in for it (what a stored
// package unpacks to, the least a deflated one does). A volume that cannot be asked is not
// refused: the writes themselves will tell.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct SpaceNeed {
  std::string folder;  // relative to the working folder; need not exist yet
  std::uint64_t bytes = 0;
};

struct SpaceShortage {
  std::string folder;  // the first folder of the volume that lacks room
  std::uint64_t needed = 0;
  std::uint64_t available = 0;
};

// The first volume that cannot hold what `needs` put on it; nullopt when every one can.
std::optional<SpaceShortage> FindSpaceShortage(const std::vector<SpaceNeed>& needs);

// What the archive's entries take once unpacked, in whole blocks; nullopt when its central
// directory cannot be read.
std::optional<std::uint64_t> UnpackedBytes(const std::string& archivePath);

// `bytes` rounded up to whole allocation blocks.
std::uint64_t InBlocks(std::uint64_t bytes);
