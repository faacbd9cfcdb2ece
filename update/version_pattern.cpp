#include "update/version_pattern.h"

#include <regex>
#include <vector>

#include "package/file_util.h"

namespace {

constexpr std::size_t kVersionParts = 3;
const char* const kAnyPart = "x";

bool PartsMatch(const std::string& patternPart, const std::string& versionPart) {
  return patternPart == versionPart || patternPart == kAnyPart || versionPart == kAnyPart;
}

}  // namespace

bool MatchVersionPattern(const std::string& pattern, const std::string& dottedVersion) {
  const std::vector<std::string> patternParts = StringUtil::Split(pattern, ".");
  const std::vector<std::string> versionParts = StringUtil::Split(dottedVersion, ".");
  if (patternParts.size() != kVersionParts || versionParts.size() != kVersionParts) return false;
  for (std::size_t i = 0; i < kVersionParts; ++i) {
    if (!PartsMatch(patternParts[i], versionParts[i])) return false;
  }
  return true;
}

std::string InstalledVersionOf(const std::string& archiveName) {
  static const std::regex kArchiveVersion("_(\\d+_\\d+_\\d+)\\.zip", std::regex::ECMAScript);
  std::smatch match;
  if (!std::regex_search(archiveName, match, kArchiveVersion)) return {};
  return match[1].str();
}
