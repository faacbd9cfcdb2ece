#include "net/range_fetch.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "net/body_sink.h"
#include "net/curl_handle.h"
#include "net/curl_options.h"

namespace {

// What the libcurl hooks need for one attempt at one piece.
struct RangeTransfer {
  CURL* handle = nullptr;
  BodySink* sink = nullptr;
  std::uint64_t first = 0;  // the piece's first byte
  std::uint64_t from = 0;   // the first byte this request asks for
  std::uint64_t last = 0;
  std::uint64_t archiveBytes = 0;
  std::uint64_t fetchedBefore = 0;  // bytes of the pieces done already
  const std::function<void(std::uint64_t)>* progress = nullptr;
  std::string contentRange;  // of the answer being read
  bool accepted = false;     // this answer's body is the range asked for
  std::string unusable;      // why the server cannot serve this archive by ranges
  bool writeFailed = false;
};

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  for (std::size_t at = 0; prefix[at] != '\0'; ++at) {
    if (at >= text.size() || std::tolower(static_cast<unsigned char>(text[at])) != prefix[at]) return false;
  }
  return true;
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

std::string RangeText(std::uint64_t first, std::uint64_t last) {
  return std::to_string(first) + "-" + std::to_string(last);
}

bool IsExpectedContentRange(const std::string& value, std::uint64_t first, std::uint64_t last, std::uint64_t total) {
  return value == "bytes " + RangeText(first, last) + "/" + std::to_string(total);
}

// Judges an answer when its headers end: only a 206 with exactly the range asked for is kept;
// a 200 or another range ends the transfer before its body (returning 0 aborts it).
std::size_t SeeRangeHeader(char* data, std::size_t size, std::size_t count, void* transferData) {
  auto& transfer = *static_cast<RangeTransfer*>(transferData);
  const std::string line(data, size * count);
  if (StartsWithNoCase(line, "http/")) {
    transfer.contentRange.clear();
    transfer.accepted = false;
  } else if (StartsWithNoCase(line, "content-range:")) {
    transfer.contentRange = Trimmed(line.substr(14));
  }
  if (line != "\r\n" && line != "\n") return size * count;
  long status = 0;
  curl_easy_getinfo(transfer.handle, CURLINFO_RESPONSE_CODE, &status);
  const std::string asked = RangeText(transfer.from, transfer.last);
  if (status == 200) {
    transfer.unusable = "the server answers a range with the whole archive (200)";
  } else if (status == 416) {
    transfer.unusable = "the server holds less than the archive's " + std::to_string(transfer.archiveBytes) +
                        " bytes (416 for " + asked + ")";
  } else if (status == 206 &&
             !IsExpectedContentRange(transfer.contentRange, transfer.from, transfer.last, transfer.archiveBytes)) {
    transfer.unusable = "the server answers bytes " + asked + " of " + std::to_string(transfer.archiveBytes) +
                        " with Content-Range \"" + transfer.contentRange + "\"";
  } else if (status == 206) {
    transfer.accepted = true;
  }
  return transfer.unusable.empty() ? size * count : 0;
}

// Bodies of answers other than the accepted 206 (error pages, redirects) are dropped.
std::size_t WriteRangeBody(char* data, std::size_t size, std::size_t count, void* transferData) {
  auto& transfer = *static_cast<RangeTransfer*>(transferData);
  const std::size_t bytes = size * count;
  if (!transfer.accepted) return bytes;
  if (transfer.sink->Position() + bytes > transfer.last - transfer.first + 1) {
    transfer.unusable = "the server sends past the end of bytes " + RangeText(transfer.from, transfer.last);
    return 0;
  }
  if (!transfer.sink->Write(data, bytes)) {
    transfer.writeFailed = true;
    return 0;
  }
  if (*transfer.progress) (*transfer.progress)(transfer.fetchedBefore + transfer.sink->Position());
  return bytes;
}

// Progress is told from the body writes, where the bytes kept are known.
int NoProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) { return 0; }

}  // namespace

RangeFetchResult FetchRanges(const RangeFetchTask& task, std::vector<RangePiece>& pieces, std::size_t startUrl) {
  RangeFetchResult result;
  result.urlIndex = startUrl;
  if (task.urls.empty() || startUrl >= task.urls.size()) {
    result.reason = "no URL to fetch ranges from";
    return result;
  }
  CurlEasy handle = MakeCurlEasy();
  if (!handle) {
    result.reason = "can not init curl";
    return result;
  }
  for (RangePiece& piece : pieces) {
    if (piece.last < piece.first || piece.last >= task.archiveBytes) {
      result.reason = "range " + RangeText(piece.first, piece.last) + " lies outside the archive";
      return result;
    }
    const std::uint64_t length = piece.last - piece.first + 1;
    BodySink sink(piece.path, length);
    std::uint64_t allowed = 0;
    if (!sink.Open(0, allowed)) {
      result.reason = "can not open local file " + piece.path;
      return result;
    }
    for (;;) {
      RangeTransfer transfer;
      transfer.handle = handle.get();
      transfer.sink = &sink;
      transfer.first = piece.first;
      transfer.from = piece.first + sink.Position();
      transfer.last = piece.last;
      transfer.archiveBytes = task.archiveBytes;
      transfer.fetchedBefore = result.fetchedBytes;
      transfer.progress = &task.progress;
      curl_options::TransferOptions options;
      options.url = task.urls[result.urlIndex];
      options.write = &WriteRangeBody;
      options.writeData = &transfer;
      options.header = &SeeRangeHeader;
      options.headerData = &transfer;
      options.progress = &NoProgress;
      options.lowSpeedLimit = task.stallBytesPerSecond;
      options.lowSpeedTime = task.stallSeconds;
      options.connectTimeoutMs = task.stallSeconds * 1000;
      options.range = RangeText(transfer.from, transfer.last);
      curl_options::Apply(handle.get(), options);
      const CURLcode code = curl_easy_perform(handle.get());
      long status = -1;
      curl_easy_getinfo(handle.get(), CURLINFO_RESPONSE_CODE, &status);
      if (!transfer.unusable.empty()) {
        result.outcome = RangeFetchOutcome::kUnusable;
        result.reason = transfer.unusable + " at " + options.url;
        return result;
      }
      if (transfer.writeFailed) {
        result.reason = "can not write " + (piece.path.empty() ? std::string("the range") : piece.path);
        return result;
      }
      if (code == CURLE_OK && status == 206 && sink.Position() == length) break;
      char text[512];
      std::snprintf(text, sizeof text,
                    "range %s from %s failed, curl_code %d (%s), ret_code %ld, %" PRIu64 " of %" PRIu64 " bytes kept",
                    options.range.c_str(), options.url.c_str(), static_cast<int>(code), curl_easy_strerror(code),
                    status, sink.Position(), length);
      std::printf("%s\n", text);
      if (result.urlIndex + 1 >= task.urls.size()) {
        result.reason = text;
        return result;
      }
      ++result.urlIndex;
      std::printf("range fetch goes on from %s after %" PRIu64 " bytes of the range\n",
                  task.urls[result.urlIndex].c_str(), sink.Position());
    }
    if (!sink.Close()) {
      result.reason = "can not write " + piece.path;
      return result;
    }
    if (piece.path.empty()) piece.bytes = sink.Memory();
    result.fetchedBytes += length;
  }
  result.outcome = RangeFetchOutcome::kDone;
  return result;
}
