#include "net/archive_name.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "app/settings.h"

namespace {

// Names that Windows opens as a device whatever the folder or extension.
bool IsDeviceName(const std::string& fileName) {
  std::string stem = fileName.substr(0, fileName.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  std::transform(stem.begin(), stem.end(), stem.begin(), [](unsigned char c) { return std::toupper(c); });
  static const std::array<const char*, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
  for (const char* name : kPlain) {
    if (stem == name) return true;
  }
  const bool numbered = stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0);
  return numbered && stem[3] >= '1' && stem[3] <= '9';
}

bool IsPlainFileName(const std::string& name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f || c == '/' || c == '\\' || c == ':') return false;
  }
  if (name.back() == '.' || name.back() == ' ') return false;
  return !IsDeviceName(name);
}

}  // namespace

bool IsDownloadFolderArchiveName(const std::string& zipName) {
  const std::string folder = settings::channelId + "/";
  return zipName.size() > folder.size() && zipName.compare(0, folder.size(), folder) == 0 &&
         IsPlainFileName(zipName.substr(folder.size()));
}
