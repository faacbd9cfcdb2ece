// Which file information applies, decided in this order:
//   1. no installed archive name in the download record, or one without a version: the server's;
//   2. the installed version matches an "unsupportedVersions" pattern: the server's;
//   3. a cached copy for the installed version, at most ten days old and a JSON object (with a
//      release key: whose signature, cached beside it, holds by the release rules): the cache;
//   4. otherwise the server's, for "lastVersion".
// The versions are never ordered: a version the server does not rule out keeps running on its
// cached file information until the cache expires.
#include <cstdio>
#include <exception>

#include "app/settings.h"
#include "app/status_words.h"
#include "net/content_paths.h"
#include "net/download_record.h"
#include "package/file_util.h"
#include "platform/files.h"
#include "update/check.h"
#include "update/json_util.h"
#include "update/record_keys.h"
#include "update/version_pattern.h"

namespace {

const char* const kLastVersionKey = "lastVersion";
const char* const kUnsupportedVersionsKey = "unsupportedVersions";

std::string CacheFilePath(const std::string& underscoredVersion) {
  return settings::dataFolder + "/fileInfo_" + underscoredVersion + ".json";
}

std::vector<std::string> UnsupportedPatterns(const rapidjson::Document& config) {
  std::vector<std::string> patterns;
  JsonUtil::VisitArray(config, kUnsupportedVersionsKey, [&patterns](const rapidjson::Value& element) {
    if (element.IsString()) patterns.emplace_back(element.GetString());
  });
  return patterns;
}

}  // namespace

FileInfoSource Check::DecideFileInfoSource(const std::string& configText) const {
  rapidjson::Document config;
  JsonUtil::ToObject(config, configText);
  const std::string lastVersion = JsonUtil::GetString(config, kLastVersionKey);
  const FileInfoSource remote{status::kRemoteFileInfo, FileInfoPath(lastVersion), lastVersion, std::string()};
  const std::vector<std::string> patterns = UnsupportedPatterns(config);

  const std::string installedName = DownloadRecord::Get(record_key::kZipName);
  if (installedName.empty()) return remote;
  const std::string installed = InstalledVersionOf(installedName);
  if (installed.empty()) return remote;
  const std::string installedDotted = DottedVersion(installed);
  for (const std::string& pattern : patterns) {
    if (MatchVersionPattern(pattern, installedDotted)) return remote;
  }

  const std::string cachePath = CacheFilePath(installed);
  std::string text;
  if (!CacheIsUsable(cachePath, installedDotted, &text)) return remote;
  return {status::kLocalFileInfo, cachePath, installedDotted, text};
}

bool Check::CacheIsUsable(const std::string& cachePath, const std::string& version, std::string* text) const {
  // Whatever goes wrong with the cache, the server's file information is the safe answer.
  try {
    if (!FileUtil::Exists(cachePath)) return false;
    std::int64_t modifiedSeconds = 0;
    if (!platform::ModificationTime(cachePath, &modifiedSeconds)) return false;
    const std::int64_t ageMs = static_cast<std::int64_t>(options_.nowMs()) - modifiedSeconds * 1000;
    if (ageMs > kCacheLifetimeMs) return false;
    if (rules_) {
      const SignedDocument cached = ReadSignedDocument(cachePath);
      try {
        rules_->CheckFileInfo(cached, version);
      } catch (const std::exception& error) {
        std::printf("cached file information not used, the server is asked: %s\n", error.what());
        return false;
      }
      *text = cached.bytes;
    } else {
      *text = FileUtil::ReadAll(cachePath);
    }
    if (text->empty()) return false;
    rapidjson::Document document;
    JsonUtil::ToObject(document, *text);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}
