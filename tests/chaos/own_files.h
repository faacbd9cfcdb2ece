// The files the launcher keeps in the data folder beside a release's own: a tree that holds
// anything else besides the release's files holds something of another release, or of an install
// that did not finish.
#pragma once

#include <string>

namespace chaos {

// `path`, relative to the data folder with "/" between folders: the download record, the release
// serial or the cached file information of a version.
inline bool LaunchersOwnFile(const std::string& path) {
  if (path == "downloadRecord" || path == "releaseSerial") return true;
  return path.rfind("fileInfo_", 0) == 0 && path.find('/') == std::string::npos;
}

}  // namespace chaos
