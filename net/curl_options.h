// Settings every transfer of the launcher shares: progress reporting, the low-speed rule,
// redirects and certificate checks.
#pragma once

#include <curl/curl.h>

#include "net/transfer_callback.h"

namespace curl_options {

// A transfer below this many bytes per second for this many seconds is abandoned.
inline constexpr long kLowSpeedLimit = 1;
inline constexpr long kLowSpeedTime = 5;
// A redirect loop must end; libcurl of this era follows redirects without limit by default.
inline constexpr long kMaxRedirects = 30;

// libcurl's progress hook: ("trans", "", received, expected) to the TransferCallback passed as
// its data, only while the expected size is known. Never aborts the transfer.
int ReportProgress(void* callback, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t uploadTotal,
                   curl_off_t uploadNow);

// Turns progress reporting on with ReportProgress and `callback` as its data.
void SetProgress(CURL* handle, const TransferCallback* callback);
// Both certificate checks off when the build says so; libcurl's verifying defaults otherwise.
void SetCertificateChecks(CURL* handle);

}  // namespace curl_options
