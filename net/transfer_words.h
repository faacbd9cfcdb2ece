// Status words and fixed payload texts of downloads and requests. Receivers compare the words
// by exact, case-sensitive equality.
#pragma once

namespace transfer {

inline constexpr const char* kTrans = "trans";
inline constexpr const char* kSucc = "succ";
inline constexpr const char* kFail = "fail";
inline constexpr const char* kError = "error";
inline constexpr const char* kTimeout = "timeout";

inline constexpr const char* kCannotOpenLocalFile = "can not open local file ";
inline constexpr const char* kCannotInitCurl = "can not init curl";

}  // namespace transfer
