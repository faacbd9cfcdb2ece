#include "net/curl_options.h"

#include "app/settings.h"
#include "net/transfer_words.h"

namespace curl_options {

int ReportProgress(void* callback, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t, curl_off_t) {
  if (downloadTotal <= 0) return 0;
  const auto& report = *static_cast<const TransferCallback*>(callback);
  report(transfer::kTrans, "", static_cast<double>(downloadNow), static_cast<double>(downloadTotal));
  return 0;
}

void SetProgress(CURL* handle, const TransferCallback* callback) {
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, &ReportProgress);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, const_cast<TransferCallback*>(callback));
}

void SetCertificateChecks(CURL* handle) {
  // An updater that starts what it downloads must not accept any certificate unless the studio
  // built it for a content server that needs that.
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, settings::verifyTls ? 1L : 0L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, settings::verifyTls ? 2L : 0L);
}

}  // namespace curl_options
