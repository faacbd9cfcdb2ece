// Compiled-in configuration, fixed before start-up and never changed.
#pragma once

#include <string>
#include <vector>

namespace settings {

extern const std::string channelId;          // channel folder on the server and local download folder
extern const std::string dataFolder;         // install folder
extern const std::string gameExeName;        // game executable inside dataFolder
extern const std::string localFileInfoName;  // optional local override of the file information
extern const std::string localConfigName;    // optional local override of the configuration
extern const std::string downloadRecordPath;
extern const std::vector<std::string> baseUrls;
extern const bool verifyTls;
// Base64 of the release signing key; empty: no document is checked against a signature.
extern const std::string releasePublicKey;
// The highest configuration serial accepted, kept by a launcher with a release key.
extern const std::string releaseSerialPath;
// The archive's stall window: a transfer slower than this rate for this long has failed.
extern const long archiveStallBytesPerSecond;
extern const long archiveStallSeconds;

// Names of the single-instance guard and its activation message.
extern const char* const kInstanceMutexName;
extern const char* const kActivationMessageName;

}  // namespace settings
