// The two JSON documents of a channel on the content server:
//   config.json               {"lastVersion": "a.b.c", "unsupportedVersions": [patterns]}
//   fileInfo_a_b_c.json       {"zipName", "zipMd5", "zipBytes", "fileNameList"}
// Written with a JSON writer so names with quotes, backslashes or non-ASCII text stay valid.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace publish {

struct FileInfoDocument {
  std::string zipName;  // archive path below the base URL and the working folder
  std::string zipMd5;   // 32 lower-case hex digits
  std::uint64_t zipBytes = 0;
  std::vector<std::string> fileNameList;  // installed paths relative to the data folder
};

std::string WriteFileInfo(const FileInfoDocument& info);

// The "zipMd5" of a file-information document; empty when the text is not such a document.
std::string ReadZipMd5(const std::string& fileInfoText);

// The channel's configuration for a new release. `existing` is the current config.json text
// ("" when there is none): its other members are kept, and so is its "unsupportedVersions"
// unless `unsupported` replaces it. Throws PublishError when `existing` is not a JSON object.
std::string WriteConfig(const std::string& existing, const std::string& lastVersion,
                        const std::optional<std::vector<std::string>>& unsupported);

}  // namespace publish
