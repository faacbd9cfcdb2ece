// Settings every transfer of the launcher shares, set in one place: progress reporting, the
// low-speed rule, time-outs, redirects (never from https to http), certificate checks. Requests and downloads differ
// only in the fields of TransferOptions.
#pragma once

#include <curl/curl.h>

#include <string>

#include "net/transfer_callback.h"

namespace curl_options {

// A document transfer below this many bytes per second for this many seconds is abandoned.
inline constexpr long kLowSpeedLimit = 1;
inline constexpr long kLowSpeedTime = 5;
// A redirect loop must end; libcurl of this era follows redirects without limit by default.
inline constexpr long kMaxRedirects = 30;

// libcurl's progress hook: ("trans", "", received, expected) to the TransferCallback passed as
// its data, only while the expected size is known. Never aborts the transfer.
int ReportProgress(void* callback, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t uploadTotal,
                   curl_off_t uploadNow);

// What one transfer sets; the rest is the same for all.
struct TransferOptions {
  std::string url;
  curl_write_callback write = nullptr;
  void* writeData = nullptr;
  curl_write_callback header = nullptr;  // each header line of every answer; nullptr: none
  void* headerData = nullptr;
  curl_xferinfo_callback progress = &ReportProgress;
  void* progressData = nullptr;  // what `progress` reads: a TransferCallback for ReportProgress
  long connectTimeoutMs = 0;     // 0: libcurl's own
  long timeoutMs = 0;            // the whole transfer; 0: none
  long lowSpeedLimit = kLowSpeedLimit;
  long lowSpeedTime = kLowSpeedTime;
  curl_slist* headers = nullptr;  // must outlive the transfer
  bool verbose = false;           // libcurl's trace on standard error
  std::string range;              // "N-" or empty for the whole body
  // Ask for and decode a compressed body. Documents only: the archive's bytes are counted
  // against its size and resumed by offset, which only the unencoded body allows.
  bool decodeContent = false;
};

// "https" for an https URL (a redirect may keep or raise the scheme, never lower it), else
// "http,https".
const char* RedirectSchemes(const std::string& url);

// Sets every option of one transfer on `handle`.
void Apply(CURL* handle, const TransferOptions& options);

}  // namespace curl_options
