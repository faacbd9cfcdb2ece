#include "net/curl_options.h"

#include "app/settings.h"
#include "net/transfer_words.h"

namespace curl_options {

namespace {

void SetCertificateChecks(CURL* handle) {
  // An updater that starts what it downloads must not accept any certificate unless the studio
  // built it for a content server that needs that.
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, settings::verifyTls ? 1L : 0L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, settings::verifyTls ? 2L : 0L);
}

}  // namespace

int ReportProgress(void* callback, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t, curl_off_t) {
  if (downloadTotal <= 0) return 0;
  const auto& report = *static_cast<const TransferCallback*>(callback);
  report(transfer::kTrans, "", static_cast<double>(downloadNow), static_cast<double>(downloadTotal));
  return 0;
}

void Apply(CURL* handle, const TransferOptions& options) {
  curl_easy_setopt(handle, CURLOPT_URL, options.url.c_str());
  curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, options.write);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, options.writeData);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, options.progress);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, options.progressData);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  if (options.connectTimeoutMs > 0) curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
  if (options.timeoutMs > 0) curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, options.timeoutMs);
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
  SetCertificateChecks(handle);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, options.lowSpeedLimit);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, options.lowSpeedTime);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, options.headers);
  curl_easy_setopt(handle, CURLOPT_VERBOSE, options.verbose ? 1L : 0L);
  curl_easy_setopt(handle, CURLOPT_RANGE, options.range.empty() ? nullptr : options.range.c_str());
}

}  // namespace curl_options
