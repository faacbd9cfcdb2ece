#include "package/disk_space.h"

#include <minizip/unzip.h>

#include "package/entry_count.h"
#include "package/unzip_file.h"
#include "platform/files.h"

namespace {

constexpr std::uint64_t kBlockBytes = 4096;

struct Volume {
  std::string id;
  std::string folder;
  std::uint64_t available = 0;
  std::uint64_t needed = 0;
};

// A folder not made yet lies on the volume of the working folder, its parent.
bool Ask(const std::string& folder, std::uint64_t* available, std::string* id) {
  return platform::FreeSpace(folder, available, id) || platform::FreeSpace(".", available, id);
}

}  // namespace

std::uint64_t InBlocks(std::uint64_t bytes) { return (bytes + kBlockBytes - 1) / kBlockBytes * kBlockBytes; }

std::optional<SpaceShortage> FindSpaceShortage(const std::vector<SpaceNeed>& needs) {
  std::vector<Volume> volumes;
  for (const SpaceNeed& need : needs) {
    Volume volume;
    if (!Ask(need.folder, &volume.available, &volume.id)) continue;
    bool known = false;
    for (Volume& seen : volumes) {
      if (seen.id != volume.id) continue;
      seen.needed += need.bytes;
      known = true;
    }
    if (known) continue;
    volume.folder = need.folder;
    volume.needed = need.bytes;
    volumes.push_back(volume);
  }
  for (const Volume& volume : volumes) {
    if (volume.needed > volume.available) return SpaceShortage{volume.folder, volume.needed, volume.available};
  }
  return std::nullopt;
}

std::optional<std::uint64_t> UnpackedBytes(const std::string& archivePath) {
  UnzipFile archive(archivePath);
  if (!archive) {
    if (IsEmptyArchive(archivePath)) return 0;
    return std::nullopt;
  }
  const std::uint64_t count = CountEntries(archive.get(), archivePath);
  std::uint64_t total = 0;
  for (std::uint64_t index = 0; index < count; ++index) {
    unz_file_info64 info{};
    if (unzGetCurrentFileInfo64(archive.get(), &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) {
      return std::nullopt;
    }
    total += InBlocks(info.uncompressed_size);
    if (index + 1 < count && unzGoToNextFile(archive.get()) != UNZ_OK) return std::nullopt;
  }
  return total;
}
