#include "tests/chaos/chaos_release.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>

#include "app/settings.h"
#include "tests/chaos/content_hash.h"
#include "tools/publish/publisher.h"

namespace chaos {
namespace {

std::string RandomBytes(std::mt19937& random, std::size_t size) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xff);
  return bytes;
}

void Write(const std::filesystem::path& path, const std::string& bytes) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string Read(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

Release MakeRelease(const std::filesystem::path& root, const std::string& version,
                    const std::filesystem::path& gameBinary, std::uint32_t seed, const ReleaseShape& shape,
                    const std::vector<std::string>& unsupported) {
  Release release;
  release.version = version;
  release.buildFolder = root / ("build_" + version);
  release.serverFolder = root / ("server_" + version);
  std::filesystem::remove_all(release.buildFolder);
  std::filesystem::remove_all(release.serverFolder);
  std::filesystem::create_directories(release.buildFolder);

  std::mt19937 random(seed);
  std::vector<std::pair<std::string, std::string>> files;
  // The game binary is the same in every release; a byte of padding is not possible in an
  // executable, so the manifest and data files carry the differences.
  files.emplace_back(settings::gameExeName, Read(gameBinary));
  files.emplace_back("blob.bin", RandomBytes(random, shape.blobBytes));
  for (std::size_t i = 0; i < shape.smallFiles; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%03zu.dat", i);
    files.emplace_back(name, RandomBytes(random, shape.smallFileBytes));
    release.smallFileNames.emplace_back(name);
  }
  files.emplace_back("sub/deeper/readme.txt", "release " + version + "\n");
  if (shape.zeroBytes > 0) files.emplace_back("zeros.bin", std::string(shape.zeroBytes, '\0'));

  std::ostringstream manifest;
  manifest << "version " << version << "\n";
  for (const auto& [name, bytes] : files) {
    Write(release.buildFolder / name, bytes);
    manifest << HexDigest(Fnv1a(bytes)) << " " << name << "\n";
  }
  Write(release.buildFolder / "manifest.txt", manifest.str());
  std::filesystem::permissions(release.buildFolder / settings::gameExeName, std::filesystem::perms(0755));

  publish::PublishOptions options;
  options.channelId = settings::channelId;
  options.version = version;
  options.buildFolder = release.buildFolder;
  options.outputFolder = release.serverFolder;
  options.unsupportedVersions = unsupported;
  options.gameExeName = settings::gameExeName;
  std::ostringstream log;
  const publish::PublishResult result = publish::Publish(options, log);
  release.zipName = result.zipName;
  release.zipMd5 = result.zipMd5;
  release.zipBytes = result.zipBytes;
  return release;
}

}  // namespace chaos
