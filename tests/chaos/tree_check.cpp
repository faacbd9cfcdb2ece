#include "tests/chaos/tree_check.h"

#include <fstream>
#include <iterator>
#include <system_error>

#include "tests/chaos/own_files.h"

namespace chaos {
namespace {

bool SameBytes(const std::filesystem::path& a, const std::filesystem::path& b) {
  std::error_code error;
  if (std::filesystem::file_size(a, error) != std::filesystem::file_size(b, error) || error) return false;
  std::ifstream first(a, std::ios::binary);
  std::ifstream second(b, std::ios::binary);
  return std::equal(std::istreambuf_iterator<char>(first), std::istreambuf_iterator<char>(),
                    std::istreambuf_iterator<char>(second));
}

}  // namespace

std::vector<std::string> TreeDifferences(const std::filesystem::path& build, const std::filesystem::path& data) {
  std::vector<std::string> differences;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(build)) {
    if (!entry.is_regular_file()) continue;
    const auto relative = std::filesystem::relative(entry.path(), build);
    const auto installed = data / relative;
    std::error_code error;
    if (!std::filesystem::is_regular_file(installed, error)) {
      differences.push_back("missing " + relative.string());
    } else if (!SameBytes(entry.path(), installed)) {
      differences.push_back("differs " + relative.string());
    }
  }
  return differences;
}

std::vector<std::string> ExtraFiles(const std::filesystem::path& build, const std::filesystem::path& data) {
  std::vector<std::string> extra;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(data, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error)) continue;
    const std::string relative = std::filesystem::relative(it->path(), data).generic_string();
    if (!LaunchersOwnFile(relative) && !std::filesystem::exists(build / relative)) extra.push_back("extra " + relative);
  }
  return extra;
}

std::set<std::string> ListTree(const std::filesystem::path& root) {
  std::set<std::string> paths;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    paths.insert(std::filesystem::relative(it->path(), root).string());
  }
  return paths;
}

std::vector<std::string> NewPathsOutside(const std::filesystem::path& root, const std::filesystem::path& allowed,
                                         const std::set<std::string>& before) {
  const std::string allowedPrefix = std::filesystem::relative(allowed, root).string();
  std::vector<std::string> found;
  for (const std::string& path : ListTree(root)) {
    const bool inside = path == allowedPrefix || path.rfind(allowedPrefix + "/", 0) == 0;
    if (!inside && before.count(path) == 0) found.push_back(path);
  }
  return found;
}

}  // namespace chaos
