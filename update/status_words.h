// Status words the update check exchanges with the request layer and the controller.
// Receivers compare them by exact, case-sensitive equality.
#pragma once

namespace status {

// From the request layer.
inline constexpr const char* kTrans = "trans";
inline constexpr const char* kSucc = "succ";
inline constexpr const char* kFail = "fail";
inline constexpr const char* kError = "error";
inline constexpr const char* kTimeout = "timeout";
// From the failover.
inline constexpr const char* kOnTimeout = "onTimeout";
inline constexpr const char* kAllTimeout = "allTimeout";
// Outcome of the check.
inline constexpr const char* kNeedUpdate = "needUpdate";
inline constexpr const char* kNotNeedUpdate = "notNeedUpdate";
// Where the applicable file information comes from.
inline constexpr const char* kLocalFileInfo = "localFileInfo";
inline constexpr const char* kRemoteFileInfo = "remoteFileInfo";

}  // namespace status
