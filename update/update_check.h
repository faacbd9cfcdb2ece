// The launcher's view of the update check.
#pragma once

#include "update/result_callback.h"

class UpdateCheck {
 public:
  virtual ~UpdateCheck() = default;
  // Begins the check and returns; the outcome arrives later through the callback, on a worker.
  virtual void Start(ResultCallback callback) = 0;
  // Writes the file information that the check left pending into the cache.
  virtual void SaveLastFileInfo() = 0;
};
