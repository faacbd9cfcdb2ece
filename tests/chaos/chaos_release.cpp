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

using Files = std::vector<std::pair<std::string, std::string>>;

// Writes `files` and their manifest into the release's build folder and publishes it.
Release PublishFiles(const std::filesystem::path& root, const std::string& version,
                     const std::filesystem::path& gameBinary, Files files,
                     const std::vector<std::string>& unsupported) {
  Release release;
  release.version = version;
  release.buildFolder = root / ("build_" + version);
  release.serverFolder = root / ("server_" + version);
  std::filesystem::remove_all(release.buildFolder);
  std::filesystem::remove_all(release.serverFolder);
  std::filesystem::create_directories(release.buildFolder);

  // The game binary is the same in every release; a byte of padding is not possible in an
  // executable, so the manifest and data files carry the differences.
  files.insert(files.begin(), {settings::gameExeName, Read(gameBinary)});
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

// "<prefix><number, zero-padded to `digits`><suffix>": "f007.dat".
std::string NumberedName(const std::string& prefix, int digits, std::size_t number, const std::string& suffix) {
  char text[32];
  std::snprintf(text, sizeof text, "%0*zu", digits, number);
  return prefix + text + suffix;
}

}  // namespace

Release MakeRelease(const std::filesystem::path& root, const std::string& version,
                    const std::filesystem::path& gameBinary, std::uint32_t seed, const ReleaseShape& shape,
                    const std::vector<std::string>& unsupported) {
  std::mt19937 random(seed);
  Files files;
  std::vector<std::string> smallFileNames;
  files.emplace_back("blob.bin", RandomBytes(random, shape.blobBytes));
  for (std::size_t i = 0; i < shape.smallFiles; ++i) {
    files.emplace_back(NumberedName("f", 3, i, ".dat"), RandomBytes(random, shape.smallFileBytes));
    smallFileNames.push_back(files.back().first);
  }
  files.emplace_back("sub/deeper/readme.txt", "release " + version + "\n");
  if (shape.zeroBytes > 0) files.emplace_back("zeros.bin", std::string(shape.zeroBytes, '\0'));
  Release release = PublishFiles(root, version, gameBinary, std::move(files), unsupported);
  release.smallFileNames = std::move(smallFileNames);
  return release;
}

ReleasePair MakeReleasePair(const std::filesystem::path& root, const std::string& fromVersion,
                            const std::string& toVersion, const std::filesystem::path& gameBinary, std::uint32_t seed) {
  constexpr std::size_t kSmallFiles = 150;
  constexpr std::size_t kSmallBytes = 2048;
  constexpr std::size_t kDroppedFiles = 8;
  std::mt19937 random(seed);
  ReleasePair pair;
  Files from;
  Files to;
  const std::string blob = RandomBytes(random, 1024 * 1024);
  from.emplace_back("blob.bin", blob);
  to.emplace_back("blob.bin", blob);
  from.emplace_back("patch.bin", RandomBytes(random, 256 * 1024));
  to.emplace_back("patch.bin", RandomBytes(random, 256 * 1024));
  pair.changedNames.push_back("patch.bin");
  for (std::size_t i = 0; i < kSmallFiles; ++i) {
    const std::string name = NumberedName("f", 3, i, ".dat");
    from.emplace_back(name, RandomBytes(random, kSmallBytes));
    if (i % 6 == 0) {
      to.emplace_back(name, RandomBytes(random, kSmallBytes));
      pair.changedNames.push_back(name);
    } else {
      to.push_back(from.back());
    }
  }
  for (std::size_t i = 0; i < kDroppedFiles; ++i) {
    from.emplace_back(NumberedName("gone", 2, i, ".dat"), RandomBytes(random, kSmallBytes));
    pair.droppedNames.push_back(from.back().first);
    to.emplace_back(NumberedName("new", 2, i, ".dat"), RandomBytes(random, kSmallBytes));
    pair.changedNames.push_back(to.back().first);
  }
  from.emplace_back("old/gone.dat", "a file only release " + fromVersion + " has\n");
  to.emplace_back("added/new.dat", "a file release " + toVersion + " adds\n");
  from.emplace_back("sub/deeper/readme.txt", "release " + fromVersion + "\n");
  to.emplace_back("sub/deeper/readme.txt", "release " + toVersion + "\n");
  pair.changedNames.push_back("manifest.txt");

  pair.from = PublishFiles(root, fromVersion, gameBinary, std::move(from), {});
  pair.to = PublishFiles(root, toVersion, gameBinary, std::move(to), {fromVersion});
  return pair;
}

}  // namespace chaos
