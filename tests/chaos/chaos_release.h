// Game releases for the chaos and hostile-server suites: a game build folder (the verifying
// chaos game under the launcher's game name, a manifest of digests, an incompressible blob and
// many small files, so that downloads and extractions take long enough to be cut), published
// with the studio's own publisher into a folder the content server serves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace chaos {

struct ReleaseShape {
  std::size_t blobBytes = 1024 * 1024;
  std::size_t smallFiles = 150;
  std::size_t smallFileBytes = 2048;
  // A file of zeros that deflates to almost nothing: the unpacked files then need far more
  // room than the archive.
  std::size_t zeroBytes = 0;
};

struct Release {
  std::string version;                 // dotted, "1.0.3"
  std::filesystem::path buildFolder;   // what the data folder must hold afterwards
  std::filesystem::path serverFolder;  // what the content server serves
  std::string zipName;                 // "MorvanePC1/res_1_0_3.zip"
  std::string zipMd5;
  std::uint64_t zipBytes = 0;
  std::vector<std::string> smallFileNames;  // in the order they are packed
};

// Builds and publishes one release below `root`. Every byte depends on `seed`, so two releases
// of different seeds differ in every file. Versions listed in `unsupported` are published as
// versions that must not be kept. Throws on failure.
Release MakeRelease(const std::filesystem::path& root, const std::string& version,
                    const std::filesystem::path& gameBinary, std::uint32_t seed, const ReleaseShape& shape,
                    const std::vector<std::string>& unsupported);

// Two releases of one game for an update by files. `to` keeps `from`'s blob and most of its
// small files; it has other bytes in every sixth small file, in "patch.bin" (a quarter of the
// blob), the readme and the manifest; it drops the "goneNN.dat" files and "old/gone.dat" and adds
// "newNN.dat" files and "added/new.dat". What it fetches stays far below half of its archive, so
// a launcher takes the update by files. `to` names `from` unsupported.
struct ReleasePair {
  Release from;
  Release to;
  std::vector<std::string> changedNames;  // files at the top of the tree that `to` changes or adds
  std::vector<std::string> droppedNames;  // files at the top of the tree that only `from` has
};
ReleasePair MakeReleasePair(const std::filesystem::path& root, const std::string& fromVersion,
                            const std::string& toVersion, const std::filesystem::path& gameBinary, std::uint32_t seed);

}  // namespace chaos
