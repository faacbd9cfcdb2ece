#include "net/content_paths.h"

#include <algorithm>

#include "app/settings.h"

std::string JoinUrl(const std::string& base, const std::string& path) {
  if (!base.empty() && base.back() == '/') return base + path;
  return base + "/" + path;
}

std::string ChannelUrl(const std::string& base) { return JoinUrl(base, settings::channelId); }

std::string ConfigRequestPath(int randomNumber) {
  return WithCacheBuster(settings::channelId + "/config.json", randomNumber);
}

std::string FileInfoPath(const std::string& dottedVersion) {
  return settings::channelId + "/fileInfo_" + UnderscoredVersion(dottedVersion) + ".json";
}

std::string WithCacheBuster(const std::string& path, int randomNumber) {
  return path + "?rand=" + std::to_string(randomNumber);
}

std::string ArchiveUrl(const std::string& base, const std::string& archiveName) { return JoinUrl(base, archiveName); }

std::string UnderscoredVersion(const std::string& dotted) {
  std::string text = dotted;
  std::replace(text.begin(), text.end(), '.', '_');
  return text;
}

std::string DottedVersion(const std::string& underscored) {
  std::string text = underscored;
  std::replace(text.begin(), text.end(), '_', '.');
  return text;
}
