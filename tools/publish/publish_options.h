// Command line of launcher-publish.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace publish {

struct PublishOptions {
  std::string channelId;
  std::string version;  // dotted a.b.c
  std::filesystem::path buildFolder;
  std::filesystem::path outputFolder;
  // Replaces the channel's list when set (possibly with an empty list); kept from the existing
  // configuration otherwise.
  std::optional<std::vector<std::string>> unsupportedVersions;
  std::string gameExeName = "kolv.exe";  // only checked for, to warn about a build without it
  // The secret-key file; set: the documents name their channel and version, the configuration
  // gets a raised serial, and each document a signature beside it.
  std::optional<std::filesystem::path> signKey;
  std::optional<int> expiresInDays;  // only with signKey: the configuration expires this many days after publishing
};

struct ParsedCommandLine {
  std::optional<PublishOptions> options;  // empty for --help and for errors
  bool helpRequested = false;
  std::string error;  // why the command line was refused; empty otherwise
};

ParsedCommandLine ParsePublishCommandLine(const std::vector<std::string>& arguments);

extern const char* const kPublishUsage;

}  // namespace publish
