#include "tools/publish/channel_fetch.h"

#include <algorithm>
#include <cctype>

#include "net/curl_handle.h"
#include "net/curl_options.h"

namespace publish {
namespace {

// As the launcher's own limit for a document: past it, a broken or hostile server.
constexpr std::size_t kMaxDocumentBytes = 16u << 20;

struct Transfer {
  HttpAnswer answer;
  bool keepBody = false;
  const std::function<bool(const char*, std::size_t)>* onBody = nullptr;
};

std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* user) {
  auto& transfer = *static_cast<Transfer*>(user);
  const std::size_t bytes = size * count;
  if (transfer.keepBody) {
    if (transfer.answer.body.size() + bytes > kMaxDocumentBytes) return 0;
    transfer.answer.body.append(data, bytes);
  }
  if (transfer.onBody != nullptr && !(*transfer.onBody)(data, bytes)) return 0;
  transfer.answer.bodyBytes += bytes;
  return bytes;
}

std::string Trimmed(std::string text) {
  const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
  text.erase(text.begin(), std::find_if(text.begin(), text.end(), notSpace));
  text.erase(std::find_if(text.rbegin(), text.rend(), notSpace).base(), text.end());
  return text;
}

// Each header line of every answer; a status line starts the next answer's set, so only the
// last answer's headers (after redirects) remain.
std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* user) {
  auto& headers = static_cast<Transfer*>(user)->answer.headers;
  const std::string line(data, size * count);
  if (line.rfind("HTTP/", 0) == 0) {
    headers.clear();
    return size * count;
  }
  const auto colon = line.find(':');
  if (colon == std::string::npos) return size * count;
  std::string name = Trimmed(line.substr(0, colon));
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  headers[name] = Trimmed(line.substr(colon + 1));
  return size * count;
}

int NoProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return 0; }

HttpAnswer Run(curl_options::TransferOptions options, Transfer& transfer, bool headOnly) {
  CurlEasy handle = MakeCurlEasy();
  if (!handle) {
    transfer.answer.result = CURLE_FAILED_INIT;
    return transfer.answer;
  }
  options.write = &OnBody;
  options.writeData = &transfer;
  options.header = &OnHeader;
  options.headerData = &transfer;
  options.progress = &NoProgress;
  curl_options::Apply(handle.get(), options);
  if (headOnly) curl_easy_setopt(handle.get(), CURLOPT_NOBODY, 1L);
  transfer.answer.result = curl_easy_perform(handle.get());
  curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &transfer.answer.status);
  return transfer.answer;
}

}  // namespace

std::string HttpAnswer::Header(const std::string& lowerCaseName) const {
  const auto it = headers.find(lowerCaseName);
  return it == headers.end() ? "" : it->second;
}

std::string HttpAnswer::Failure() const {
  if (result != CURLE_OK) return curl_easy_strerror(result);
  return "HTTP status " + std::to_string(status);
}

HttpAnswer FetchDocument(const std::string& url, long timeoutMs) {
  CurlHeaderList headers(curl_slist_append(nullptr, "Connection: close"));
  curl_options::TransferOptions options;
  options.url = url;
  options.connectTimeoutMs = timeoutMs;
  options.timeoutMs = timeoutMs;
  options.headers = headers.get();
  options.decodeContent = true;
  Transfer transfer;
  transfer.keepBody = true;
  return Run(options, transfer, false);
}

HttpAnswer FetchArchiveHead(const std::string& url) {
  curl_options::TransferOptions options;
  options.url = url;
  Transfer transfer;
  return Run(options, transfer, true);
}

HttpAnswer FetchArchiveFrom(const std::string& url, std::uint64_t offset) {
  curl_options::TransferOptions options;
  options.url = url;
  options.range = std::to_string(offset) + "-";
  Transfer transfer;
  return Run(options, transfer, false);
}

HttpAnswer FetchArchive(const std::string& url, const std::function<bool(const char*, std::size_t)>& onBody) {
  curl_options::TransferOptions options;
  options.url = url;
  Transfer transfer;
  transfer.onBody = &onBody;
  return Run(options, transfer, false);
}

}  // namespace publish
