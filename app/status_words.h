// Status words every background job reports with; the receivers compare them by exact,
// case-sensitive equality. One list for the whole launcher.
#pragma once

namespace status {

// From transfers (downloads and requests) and the extraction.
inline constexpr const char* kTrans = "trans";
inline constexpr const char* kSucc = "succ";
inline constexpr const char* kFail = "fail";
inline constexpr const char* kError = "error";
inline constexpr const char* kTimeout = "timeout";
// From downloads: the bytes kept are back to `first`; the progress that follows counts from there.
inline constexpr const char* kRestart = "restart";
// From the extraction: one more archive entry is done.
inline constexpr const char* kUnzip = "unzip";
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
