#include <string>

#include "update/check.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// "..", and also "..." or ".. ", which Windows trims to "..".
bool IsParentComponent(const std::string& component) {
  if (component.find("..") == std::string::npos) return false;
  return component.find_first_not_of(". ") == std::string::npos;
}

}  // namespace

bool IsSafeArchiveName(const std::string& zipName) {
  if (zipName.empty()) return true;
  if (IsSeparator(zipName.front())) return false;  // absolute, or a network share
  // A drive letter ("C:") or an alternate data stream ("res.zip:x") would leave the folder.
  if (zipName.find(':') != std::string::npos) return false;
  std::string component;
  for (char c : zipName + "/") {
    if (!IsSeparator(c)) {
      component.push_back(c);
      continue;
    }
    if (IsParentComponent(component)) return false;
    component.clear();
  }
  return true;
}
