// `launcher-publish verify`: fetches a live channel as a launcher built with the release key
// would, and reports every problem a player would meet, one line each:
//   config.json and its signature: signature, channel, serial, expiry, content encoding, caching;
//   the file information of "lastVersion" and its signature: signature, channel, version, keys;
//   the archive: size and encoding in its headers, a range request answered 206 with the rest,
//   and the whole archive downloaded against "zipBytes", "zipMd5" and "zipSha256";
//   the file list ("files"), when there is one, against the downloaded archive (kept in the
//   system's temporary folder for the check, so it needs the archive's size free there).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/publish/release_signature.h"

namespace publish {

struct VerifyOptions {
  std::string baseUrl;
  std::string channelId;
  PublicKey publicKey{};
  std::int64_t nowMs = 0;  // UTC milliseconds the expiry is judged at
};

// Writes "ok      ..." and "problem ..." lines and a summary to `out`; returns the number of
// problems found.
int VerifyChannel(const VerifyOptions& options, std::ostream& out);

// The command line after "verify"; writes to `out` and `err`. Returns the exit code: 0 no
// problem, 1 problems found, 2 a wrong command line.
int RunVerifyCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

}  // namespace publish
