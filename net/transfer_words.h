// Fixed payload texts of downloads and requests; the status words are in app/status_words.h.
#pragma once

#include "app/status_words.h"

namespace transfer {

using status::kError;
using status::kFail;
using status::kRestart;
using status::kSucc;
using status::kTimeout;
using status::kTrans;

inline constexpr const char* kCannotOpenLocalFile = "can not open local file ";
inline constexpr const char* kCannotInitCurl = "can not init curl";

}  // namespace transfer
