// The requests `launcher-publish verify` makes, set up as the launcher sets up its own (through
// the launcher's transfer options): documents with "Connection: close" and decoded content,
// the archive unencoded, by HEAD, by a byte range, or whole.
#pragma once

#include <curl/curl.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace publish {

struct HttpAnswer {
  CURLcode result = CURLE_OK;
  long status = 0;
  std::string body;  // documents only
  std::uint64_t bodyBytes = 0;
  std::map<std::string, std::string> headers;  // of the last answer (after redirects); names in lower case

  // The header's value, "" when absent.
  std::string Header(const std::string& lowerCaseName) const;
  bool Is(long expectedStatus) const { return result == CURLE_OK && status == expectedStatus; }
  // "HTTP status 404" or libcurl's reason, for a report line.
  std::string Failure() const;
};

// A document, as the launcher asks for it: at most 16 MiB, decoded, within `timeoutMs`.
HttpAnswer FetchDocument(const std::string& url, long timeoutMs);
// The archive's headers only.
HttpAnswer FetchArchiveHead(const std::string& url);
// The archive from `offset` on (a resume); the body is counted and dropped.
HttpAnswer FetchArchiveFrom(const std::string& url, std::uint64_t offset);
// The whole archive, each block handed to `onBody` (returning false ends the transfer).
HttpAnswer FetchArchive(const std::string& url, const std::function<bool(const char*, std::size_t)>& onBody);

}  // namespace publish
