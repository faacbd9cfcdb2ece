#include "tools/publish/version_text.h"

#include <cctype>
#include <vector>

namespace publish {
namespace {

constexpr std::size_t kMaxDigitsPerPart = 9;  // keeps every part an ordinary int on any side

std::vector<std::string> SplitAtDots(const std::string& text) {
  std::vector<std::string> parts(1);
  for (char c : text) {
    if (c == '.') {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

bool IsDigits(const std::string& part) {
  if (part.empty() || part.size() > kMaxDigitsPerPart) return false;
  for (char c : part) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

}  // namespace

bool IsDottedVersion(const std::string& text) {
  const auto parts = SplitAtDots(text);
  if (parts.size() != 3) return false;
  for (const auto& part : parts) {
    if (!IsDigits(part)) return false;
  }
  return true;
}

bool IsVersionPattern(const std::string& text) {
  const auto parts = SplitAtDots(text);
  if (parts.size() != 3) return false;
  for (const auto& part : parts) {
    if (part != "x" && !IsDigits(part)) return false;
  }
  return true;
}

bool IsChannelId(const std::string& text) {
  if (text.empty() || text == "." || text == "..") return false;
  for (char c : text) {
    const bool allowed = std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
    if (!allowed) return false;
  }
  return true;
}

}  // namespace publish
