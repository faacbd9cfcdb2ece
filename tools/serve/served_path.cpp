#include "tools/serve/served_path.h"

#include <system_error>

namespace serve {
namespace fs = std::filesystem;
namespace {

bool HasUnsafeText(const std::string& path) {
  if (path.find('\\') != std::string::npos || path.find('\0') != std::string::npos) return true;
  for (const auto& part : fs::path(path)) {
    if (part == "..") return true;
  }
  return false;
}

bool IsInside(const fs::path& root, const fs::path& candidate) {
  const auto rel = candidate.lexically_relative(root);
  return !rel.empty() && *rel.begin() != "..";
}

}  // namespace

std::optional<fs::path> ResolveServedFile(const fs::path& root, const std::string& requestPath) {
  if (requestPath.empty() || requestPath.front() != '/' || HasUnsafeText(requestPath)) return std::nullopt;
  std::error_code error;
  const fs::path canonicalRoot = fs::canonical(root, error);
  if (error) return std::nullopt;
  const fs::path file = fs::canonical(canonicalRoot / requestPath.substr(1), error);
  if (error || !IsInside(canonicalRoot, file)) return std::nullopt;
  if (!fs::is_regular_file(file, error)) return std::nullopt;
  return file;
}

}  // namespace serve
