#include "net/curl_options.h"

#include <cctype>
#include <cstdlib>

#include "app/settings.h"
#include "net/transfer_words.h"
#include "platform/system_proxy.h"

namespace curl_options {

namespace {

void SetCertificateChecks(CURL* handle) {
  // An updater that starts what it downloads must not accept any certificate unless the studio
  // built it for a content server that needs that.
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYPEER, settings::verifyTls ? 1L : 0L);
  curl_easy_setopt(handle, CURLOPT_SSL_VERIFYHOST, settings::verifyTls ? 2L : 0L);
  // The curl tool's convention: this file replaces the trusted authorities (checks stay on). It
  // lets a test, or a studio's staging set-up, trust its own authority in one process only.
  const char* bundle = std::getenv("CURL_CA_BUNDLE");
  if (settings::verifyTls && bundle != nullptr && bundle[0] != '\0') curl_easy_setopt(handle, CURLOPT_CAINFO, bundle);
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  for (std::size_t at = 0; prefix[at] != '\0'; ++at) {
    if (at >= text.size() || std::tolower(static_cast<unsigned char>(text[at])) != prefix[at]) return false;
  }
  return true;
}

}  // namespace

int ReportProgress(void* callback, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t, curl_off_t) {
  if (downloadTotal <= 0) return 0;
  const auto& report = *static_cast<const TransferCallback*>(callback);
  report(transfer::kTrans, "", static_cast<double>(downloadNow), static_cast<double>(downloadTotal));
  return 0;
}

const char* RedirectSchemes(const std::string& url) {
  return StartsWithNoCase(url, "https://") ? "https" : "http,https";
}

void Apply(CURL* handle, const TransferOptions& options) {
  curl_easy_setopt(handle, CURLOPT_URL, options.url.c_str());
  // The proxy the system's settings give for this URL (Windows); without any, libcurl's own rule,
  // the proxy environment variables, stands.
  if (const auto proxy = platform::SystemProxyFor(options.url)) {
    curl_easy_setopt(handle, CURLOPT_PROXY, proxy->c_str());
  }
  curl_easy_setopt(handle, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, options.write);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, options.writeData);
  if (options.header != nullptr) {
    curl_easy_setopt(handle, CURLOPT_HEADERFUNCTION, options.header);
    curl_easy_setopt(handle, CURLOPT_HEADERDATA, options.headerData);
  }
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, options.progress);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, options.progressData);
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
  if (options.connectTimeoutMs > 0) curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
  if (options.timeoutMs > 0) curl_easy_setopt(handle, CURLOPT_TIMEOUT_MS, options.timeoutMs);
  curl_easy_setopt(handle, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(handle, CURLOPT_MAXREDIRS, kMaxRedirects);
  // A package fetched from an https base URL must not arrive over plain HTTP through a redirect;
  // schemes other than these two were never followed.
  curl_easy_setopt(handle, CURLOPT_REDIR_PROTOCOLS_STR, RedirectSchemes(options.url));
  SetCertificateChecks(handle);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, options.lowSpeedLimit);
  curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, options.lowSpeedTime);
  curl_easy_setopt(handle, CURLOPT_HTTPHEADER, options.headers);
  curl_easy_setopt(handle, CURLOPT_VERBOSE, options.verbose ? 1L : 0L);
  curl_easy_setopt(handle, CURLOPT_RANGE, options.range.empty() ? nullptr : options.range.c_str());
  // Documents uploaded gzip-encoded are common on content delivery networks.
  curl_easy_setopt(handle, CURLOPT_ACCEPT_ENCODING, options.decodeContent ? "gzip, deflate" : nullptr);
}

}  // namespace curl_options
