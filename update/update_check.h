// The launcher's view of the update check.
#pragma once

#include <string>

#include "update/file_level_update.h"
#include "update/result_callback.h"

class UpdateCheck {
 public:
  virtual ~UpdateCheck() = default;
  // Begins the check and returns; the outcome arrives later through the callback, on a worker.
  virtual void Start(ResultCallback callback) = 0;
  // Writes the file information that the check left pending into the cache.
  virtual void SaveLastFileInfo() = 0;
  // Drops the cached file information of the archive's version: after the archive failed its
  // digest, the cached digest may be the damaged part, and the next check must ask the server.
  virtual void ForgetFileInfo(const std::string& archiveName) = 0;
  // The SHA-256 the evaluated file information gives its archive (lower-case hex); empty when
  // the archive's SHA-256 is not checked.
  virtual std::string ArchiveSha256() const { return {}; }
  // The installed package's file information and the evaluated one, for an update by files.
  // Call after "needUpdate"; empty texts when the check has none.
  virtual FileLists FileListsForUpdate() const { return {}; }
};
