#include "tools/publish/build_tree.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "tools/publish/publish_error.h"
#include "tools/publish/utf8_name.h"

namespace publish {
namespace fs = std::filesystem;
namespace {

struct StatResult {
  bool ok = false;
  struct stat info {};
};

// stat() follows links, which is what packing a linked file as its target needs.
StatResult StatFollowingLinks(const fs::path& path) {
  StatResult result;
  result.ok = ::stat(path.c_str(), &result.info) == 0;
  return result;
}

std::string RelativeName(const fs::path& root, const fs::path& path) {
  return path.lexically_relative(root).generic_string();
}

// Opened once here so that a file the publisher may not read stops the run before any byte of
// the archive is written, not minutes later half-way through it.
void CheckReadable(const fs::path& path, const std::string& name) {
  const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) throw PublishError("cannot read " + EscapedName(name) + ": " + std::strerror(errno));
  ::close(descriptor);
}

BuildEntry MakeEntry(const fs::path& root, const fs::path& path) {
  const StatResult st = StatFollowingLinks(path);
  const std::string name = RelativeName(root, path);
  if (!IsValidUtf8(name)) {
    throw PublishError("the name " + EscapedName(name) +
                       " is not valid UTF-8; the launcher could not unpack it under that name, so rename it");
  }
  if (!st.ok) throw PublishError("cannot read " + path.string() + " (a broken link?)");

  BuildEntry entry;
  entry.name = name;
  entry.source = path;
  entry.permissions = static_cast<std::uint32_t>(st.info.st_mode) & 0777;
  entry.modified = st.info.st_mtime;
  if (S_ISDIR(st.info.st_mode)) {
    if (fs::is_symlink(path)) throw PublishError(name + " is a link to a folder; copy the folder into the build");
    entry.isFolder = true;
  } else if (S_ISREG(st.info.st_mode)) {
    CheckReadable(path, name);
    entry.size = static_cast<std::uint64_t>(st.info.st_size);
  } else {
    throw PublishError(name + " is neither a file nor a folder");
  }
  return entry;
}

void ListFolder(const fs::path& root, const fs::path& folder, std::vector<BuildEntry>& out) {
  std::vector<fs::path> children;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    children.push_back(it->path());
  }
  if (error) throw PublishError("cannot list " + folder.string() + ": " + error.message());
  std::sort(children.begin(), children.end());
  for (const auto& child : children) {
    out.push_back(MakeEntry(root, child));
    if (out.back().isFolder) ListFolder(root, child, out);
  }
}

}  // namespace

std::vector<BuildEntry> ListBuildTree(const fs::path& buildFolder) {
  std::vector<BuildEntry> entries;
  ListFolder(buildFolder, buildFolder, entries);
  return entries;
}

std::size_t CountFiles(const std::vector<BuildEntry>& entries) {
  return static_cast<std::size_t>(
      std::count_if(entries.begin(), entries.end(), [](const BuildEntry& e) { return !e.isFolder; }));
}

std::uint64_t TotalBytes(const std::vector<BuildEntry>& entries) {
  std::uint64_t total = 0;
  for (const auto& e : entries) total += e.size;
  return total;
}

}  // namespace publish
