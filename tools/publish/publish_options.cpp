#include "tools/publish/publish_options.h"

#include "tools/publish/version_text.h"

namespace publish {

const char* const kPublishUsage =
    "usage: launcher-publish [options] <channel-id> <version> <build-folder> <output-folder>\n"
    "\n"
    "Packs every file and folder of <build-folder> into the channel's package archive and writes\n"
    "the documents the launcher asks the content server for:\n"
    "  <output-folder>/<channel-id>/res_<a_b_c>.zip          the package archive\n"
    "  <output-folder>/<channel-id>/fileInfo_<a_b_c>.json    its name, MD5 digest, size and file list\n"
    "  <output-folder>/<channel-id>/config.json              \"lastVersion\" = <version>\n"
    "Copy the output folder as it is below the launcher's base URL (archive first, config.json last).\n"
    "\n"
    "  <version>                 three numbers, a.b.c (for example 1.0.3)\n"
    "options:\n"
    "  --unsupported <pattern>   a version pattern (a.b.c, any part may be x) that installed packages\n"
    "                            must not keep; repeat for several. Replaces the channel's list;\n"
    "                            without it the list of the existing config.json is kept.\n"
    "  --no-unsupported          empty the channel's list of unsupported versions\n"
    "  --game-exe <name>         the game executable the launcher starts (default kolv.exe);\n"
    "                            a build without it is published with a warning\n"
    "  --sign-key <file>         sign the release with the secret key in <file> (from keygen):\n"
    "                            the documents name their channel and version, the file information\n"
    "                            gets the archive's SHA-256, config.json a \"serial\" raised above the\n"
    "                            published one, and each document a <document>.sig beside it\n"
    "  --expires-in-days <n>     with --sign-key: launchers refuse this config.json from <n> days\n"
    "                            after publishing (1 to 3650); publish again before then\n"
    "  --help                    this text\n"
    "\n"
    "       launcher-publish keygen <secret-key-file>\n"
    "Writes a new release key (mode 0600, never over an existing file) and prints its public key\n"
    "and the CMake option that compiles it into the launcher.\n"
    "\n"
    "       launcher-publish verify <base-url> <channel-id> --public-key <base64>\n"
    "Fetches the live channel as a launcher does and reports every problem a player would meet;\n"
    "exit code 0 when there is none, 1 otherwise.\n"
    "\n"
    "A version that was published once is never overwritten with other content: publish a new\n"
    "version instead. Publishing the same build again changes nothing.\n";

namespace {

ParsedCommandLine Refuse(const std::string& why) {
  ParsedCommandLine parsed;
  parsed.error = why;
  return parsed;
}

constexpr int kMaxExpiryDays = 3650;

// 1 to kMaxExpiryDays from plain decimal digits; 0 for anything else.
int DaysIn(const std::string& text) {
  if (text.empty() || text.size() > 4) return 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return 0;
  }
  const int days = std::stoi(text);
  return days <= kMaxExpiryDays ? days : 0;
}

}  // namespace

ParsedCommandLine ParsePublishCommandLine(const std::vector<std::string>& arguments) {
  PublishOptions options;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg == "--help" || arg == "-h") {
      ParsedCommandLine parsed;
      parsed.helpRequested = true;
      return parsed;
    }
    if (arg == "--unsupported" || arg == "--game-exe" || arg == "--sign-key" || arg == "--expires-in-days") {
      if (i + 1 >= arguments.size()) return Refuse(arg + " needs a value");
      const std::string& value = arguments[++i];
      if (arg == "--game-exe") {
        options.gameExeName = value;
        continue;
      }
      if (arg == "--sign-key") {
        options.signKey = value;
        continue;
      }
      if (arg == "--expires-in-days") {
        const int days = DaysIn(value);
        if (days == 0) return Refuse("--expires-in-days needs a whole number of days from 1 to 3650: " + value);
        options.expiresInDays = days;
        continue;
      }
      if (!IsVersionPattern(value)) return Refuse("not a version pattern (a.b.c, parts may be x): " + value);
      if (!options.unsupportedVersions) options.unsupportedVersions.emplace();
      options.unsupportedVersions->push_back(value);
    } else if (arg == "--no-unsupported") {
      options.unsupportedVersions.emplace();
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Refuse("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 4) return Refuse("expected 4 arguments, got " + std::to_string(positional.size()));
  options.channelId = positional[0];
  options.version = positional[1];
  options.buildFolder = positional[2];
  options.outputFolder = positional[3];
  if (!IsChannelId(options.channelId)) return Refuse("not a channel id (one folder name): " + options.channelId);
  if (!IsDottedVersion(options.version)) return Refuse("not a version of the form a.b.c: " + options.version);
  if (options.expiresInDays && !options.signKey) return Refuse("--expires-in-days needs --sign-key");
  ParsedCommandLine parsed;
  parsed.options = std::move(options);
  return parsed;
}

}  // namespace publish
