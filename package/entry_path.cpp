#include "package/entry_path.h"

#include "platform/files.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::vector<std::string> Components(const std::string& name) {
  std::vector<std::string> components(1);
  for (char c : name) {
    if (IsSeparator(c)) {
      components.emplace_back();
    } else {
      components.back() += c;
    }
  }
  return components;
}

bool IsParentReference(const std::string& component) {
#ifdef _WIN32
  // Windows drops trailing dots and blanks from a path component, so ".. " and "..." lead up
  // a level as well; nothing legitimate in a package is named with dots and blanks alone.
  if (component.find("..") == std::string::npos) return false;
  return component.find_first_not_of(". ") == std::string::npos;
#else
  return component == "..";
#endif
}

}  // namespace

bool IsSafeEntryName(const std::string& localName) {
  if (localName.find('\0') != std::string::npos) return false;             // the file system would cut the name there
  if (!localName.empty() && IsSeparator(localName.front())) return false;  // "/abs", "\\abs", "\\\\server\\share"
  if (localName.size() >= 2 && IsDriveLetter(localName[0]) && localName[1] == ':') return false;  // "C:x"
#ifdef _WIN32
  // Any other colon names an alternate data stream or a device.
  if (localName.find(':') != std::string::npos) return false;
#endif
  for (const auto& component : Components(localName)) {
    if (IsParentReference(component)) return false;
  }
  return true;
}

EntryParts SplitEntryName(const std::string& localName) {
  EntryParts parts;
  std::string path;
  for (char c : localName) {
    if (!IsSeparator(c)) {
      path += c;
      continue;
    }
    // Empty components ("a//b") add nothing; the folder they would name is the one before.
    if (!path.empty() && path.back() != platform::kPathSeparator) {
      parts.folders.push_back(path);
      path += platform::kPathSeparator;
    }
  }
  if (!path.empty() && path.back() != platform::kPathSeparator) parts.file = path;
  return parts;
}
