// Document request: one GET into memory, bounded as a whole (connection and answer) by the
// time-out it is given. A complete 200 answer is "succ" with its body, 408 "timeout", anything
// else "error": another status, or any libcurl error, also after a 200 status line. A body sent
// gzip- or deflate-encoded is decoded.
#include <cstdio>
#include <string>

#include "net/curl_handle.h"
#include "net/curl_options.h"
#include "net/http_util.h"
#include "net/transfer_words.h"

namespace {

// The launcher's documents are small; a body past this size is a broken or hostile server, and
// collecting it without end would exhaust the memory.
constexpr std::size_t kMaxDocumentBytes = 16u << 20;

std::size_t AppendToResponse(char* data, std::size_t size, std::size_t count, void* response) {
  auto& text = *static_cast<std::string*>(response);
  if (text.size() + size * count > kMaxDocumentBytes) return 0;  // libcurl ends the transfer with a write error
  text.append(data, size * count);
  return size * count;
}

}  // namespace

void HttpUtil::Request(const std::string& url, const std::string& body, const TransferCallback& callback,
                       long timeoutMs) {
  const std::string requestUrl = url;
  const std::string requestBody = body;
  CurlEasy handle = MakeCurlEasy();
  if (!handle) {
    callback(transfer::kError, transfer::kCannotInitCurl, 0, 0);
    return;
  }
  CurlHeaderList headers(curl_slist_append(nullptr, "Connection: close"));
  std::string response;
  curl_options::TransferOptions options;
  options.url = requestUrl;
  options.write = &AppendToResponse;
  options.writeData = &response;
  options.progressData = const_cast<TransferCallback*>(&callback);
  // One bound for the connection and the whole answer: a server that accepts and never answers,
  // or trickles, must not keep the failover from the next server.
  options.connectTimeoutMs = timeoutMs;
  options.timeoutMs = timeoutMs;
  options.headers = headers.get();
  options.decodeContent = true;
  CURL* curl = handle.get();
  curl_options::Apply(curl, options);

  const CURLcode result = curl_easy_perform(curl);
  long status = -1;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  handle.reset();  // before the header list it points to
  headers.reset();

  std::printf("curlcode = %d, ret_code = %ld\n", static_cast<int>(result), status);
  // A body cut off after the status line (connection lost, time limit, document over its limit)
  // is no document, whatever the status said.
  if (status == 200 && result == CURLE_OK) {
    std::printf("http post succ to %s with %s, response is %s\n\n", requestUrl.c_str(), requestBody.c_str(),
                response.c_str());
    callback(transfer::kSucc, response, 0, 0);
    return;
  }
  const int httpStatus = static_cast<int>(status);
  const char* const curlText = curl_easy_strerror(result);
  std::printf("curl perform fail to %s with %s, ret_code is %d (%s)\n\n", requestUrl.c_str(), requestBody.c_str(),
              httpStatus, curlText);
  char text[1024];
  std::snprintf(text, sizeof text, "curl perform fail, ret_code is %d (%s)", httpStatus, curlText);
  callback(httpStatus == 408 ? transfer::kTimeout : transfer::kError, text, 0, 0);
}
