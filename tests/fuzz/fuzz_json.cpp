// The JSON documents the launcher reads from the server, the cache and the override files.
#include <exception>
#include <fstream>
#include <string>

#include "app/settings.h"
#include "net/archive_name.h"
#include "net/download_record.h"
#include "tests/fuzz/fuzz_entries.h"
#include "update/check.h"
#include "update/file_manifest.h"
#include "update/json_util.h"
#include "update/version_pattern.h"

namespace fuzz {

int ConfigDocument(const std::uint8_t* data, std::size_t size) {
  ScratchFolder();
  const std::string text(reinterpret_cast<const char*>(data), size);
  // An installed version with a fresh cache, so that the decision reads the patterns and the
  // cache as well as the document.
  static const bool prepared = [] {
    std::filesystem::create_directories(settings::dataFolder);
    DownloadRecord::Set(DownloadRecord::kZipName, settings::channelId + "/res_1_0_3.zip");
    std::ofstream(settings::dataFolder + "/fileInfo_1_0_3.json") << R"({"zipName":"x"})";
    return true;
  }();
  (void)prepared;

  static Check check(CheckOptions{});
  try {
    const FileInfoSource source = check.DecideFileInfoSource(text);
    Require(source.kind == "localFileInfo" || source.kind == "remoteFileInfo", "decision is one of two kinds");
  } catch (const JsonToObjectException&) {
    return 0;  // not a JSON object: refused, as it must be
  }

  rapidjson::Document document;
  JsonUtil::ToObject(document, text);
  const std::string version = JsonUtil::GetString(document, "lastVersion");
  JsonUtil::VisitArray(document, "unsupportedVersions", [&version](const rapidjson::Value& element) {
    if (!element.IsString()) return;
    const std::string pattern = element.GetString();
    // Matching is symmetric in the sense that "x" on either side matches.
    Require(MatchVersionPattern(pattern, version) == MatchVersionPattern(version, pattern), "pattern match symmetric");
  });
  return 0;
}

int FileInfoDocument(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (const auto files = ParseManifestFiles(text)) {
    for (const auto& file : *files) {
      Require(!InstalledPathOf("data", file.path).empty(), "an accepted file list names only safe paths");
      Require(file.sha256.size() == 64, "an accepted digest has 64 digits");
    }
  }
  FileInfo info;
  try {
    info = Check::ParseFileInfo(text);
  } catch (const std::exception&) {
    return 0;  // refused with a message: the "error" row
  }
  Require(info.zipName.empty() || IsDownloadFolderArchiveName(info.zipName),
          "an accepted archive name is a plain name in the download folder");
  Require(info.zipBytes >= 0, "an accepted size is not negative");
  return 0;
}

}  // namespace fuzz
