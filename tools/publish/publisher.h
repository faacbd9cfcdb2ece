// Publishes one release of a channel into an output folder laid out as the content server
// serves it.
//
// Order, so that a reader of the output folder never sees a configuration that points at
// something missing: the archive is written beside its final name and renamed into place, then
// the file information, then config.json. A version is immutable once published: launchers
// resume partial archives and keep file information for days, so an archive or file
// information of the same version with another digest is never replaced.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "tools/publish/publish_options.h"

namespace publish {

struct PublishResult {
  std::string zipName;  // relative to the output folder, e.g. "MorvanePC1/res_1_0_0.zip"
  std::string zipMd5;
  std::uint64_t zipBytes = 0;
  std::size_t files = 0;
  std::size_t folders = 0;
  bool unchanged = false;  // the same build had been published as this version before
};

// The archive's name for a channel and version: "<channel>/res_<a_b_c>.zip".
std::string ArchiveNameFor(const std::string& channelId, const std::string& dottedVersion);

// Throws PublishError with a message for the studio when the release cannot be published.
// Progress and warnings go to `log`.
PublishResult Publish(const PublishOptions& options, std::ostream& log);

}  // namespace publish
