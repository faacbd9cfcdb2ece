#include "app/settings.h"

#include "launcher_config.h"

// A test build may point the launcher at a loopback content server.
#ifdef LAUNCHER_BASE_URL_LIST_OVERRIDE
#undef LAUNCHER_BASE_URL_LIST
#define LAUNCHER_BASE_URL_LIST LAUNCHER_BASE_URL_LIST_OVERRIDE
#endif

// A test build may carry a key of its own, made when the tests are built.
#ifdef LAUNCHER_RELEASE_PUBLIC_KEY_OVERRIDE
#undef LAUNCHER_RELEASE_PUBLIC_KEY
#define LAUNCHER_RELEASE_PUBLIC_KEY LAUNCHER_RELEASE_PUBLIC_KEY_OVERRIDE
#endif

// Any real player's line beats 1 KiB/s over half a minute; a test build may shorten the window.
#ifndef LAUNCHER_ARCHIVE_STALL_SECONDS
#define LAUNCHER_ARCHIVE_STALL_SECONDS 30
#endif

namespace settings {

const std::string channelId = LAUNCHER_CHANNEL_ID;
const std::string dataFolder = LAUNCHER_DATA_FOLDER_PREFIX LAUNCHER_CHANNEL_ID;
const std::string gameExeName = LAUNCHER_GAME_EXE;
const std::string localFileInfoName = "local_fileInfo.json";
const std::string localConfigName = "local_config.json";
const std::string downloadRecordPath = dataFolder + "/downloadRecord";
const std::vector<std::string> baseUrls = {LAUNCHER_BASE_URL_LIST};
const bool verifyTls = LAUNCHER_VERIFY_TLS;
const std::string releasePublicKey = LAUNCHER_RELEASE_PUBLIC_KEY;
const std::string releaseSerialPath = dataFolder + "/releaseSerial";
const long archiveStallBytesPerSecond = 1024;
const long archiveStallSeconds = LAUNCHER_ARCHIVE_STALL_SECONDS;

const char* const kInstanceMutexName = "KOLV__Mutex";
const char* const kActivationMessageName = "KOLV__Mutex__EH";

}  // namespace settings
