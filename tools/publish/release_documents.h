// The two JSON documents of a channel on the content server:
//   config.json               {"lastVersion": "a.b.c", "unsupportedVersions": [patterns]}
//   fileInfo_a_b_c.json       {"zipName", "zipMd5", "zipBytes", "fileNameList", "files"}
// "files" lists every installed file (not the folders) with its size, SHA-256 and CRC-32, so a
// launcher can fetch single entries of the archive and check them; launchers that do not know it
// read "fileNameList" as before.
// A signed release adds "channel", "version" and "zipSha256" to the file information and
// "channel", "serial" and an optional "expires" to the configuration; launchers that do not know
// them read the documents as before.
// Written with a JSON writer so names with quotes, backslashes or non-ASCII text stay valid.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "update/file_manifest.h"

namespace publish {

struct FileInfoDocument {
  std::string zipName;  // archive path below the base URL and the working folder
  std::string zipMd5;   // 32 lower-case hex digits
  std::uint64_t zipBytes = 0;
  std::vector<std::string> fileNameList;  // installed paths relative to the data folder
  // Written only for a signed release (all three set then): the document names what it is, so a
  // valid document cannot be served under another version's or channel's name.
  std::string channel;
  std::string version;              // dotted a.b.c, the version of the document's name
  std::string zipSha256;            // 64 lower-case hex digits
  std::vector<ManifestFile> files;  // "files", in the archive's order; written when not empty
};

std::string WriteFileInfo(const FileInfoDocument& info);

// The "zipMd5" of a file-information document; empty when the text is not such a document.
std::string ReadZipMd5(const std::string& fileInfoText);

// The channel's configuration for a new release. `existing` is the current config.json text
// ("" when there is none): its other members are kept, and so is its "unsupportedVersions"
// unless `unsupported` replaces it. Throws PublishError when `existing` is not a JSON object.
struct ConfigSigning {
  std::string channel;
  std::optional<std::int64_t> expiresMs;  // UTC milliseconds; none: the configuration never expires
};

// With `signing`, the configuration also names its channel, carries a "serial" one above the
// existing one (1 when there is none) and "expires" as given (removed when not given). Throws
// PublishError when the existing "serial" is not an integer of at least 1.
std::string WriteConfig(const std::string& existing, const std::string& lastVersion,
                        const std::optional<std::vector<std::string>>& unsupported,
                        const std::optional<ConfigSigning>& signing = std::nullopt);

}  // namespace publish
