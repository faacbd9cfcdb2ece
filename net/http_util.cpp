// Archive download: one GET, written to a partial file from the resume offset or collected in
// memory, progress through libcurl's progress hook, exactly one "succ" or "fail" at the end.
// Only the stall window bounds the transfer (no overall or connect time-out): archives are
// large and connections slow, but a transfer under the window's rate for its whole length has
// failed. An answer without a length (chunked) shows progress against the archive's known size.
//
// No download is wasted on a server that does not continue the partial file: a 200 answer to a
// range request carries the whole archive, so it is written from the start of the file; a 416
// says the partial file is longer than what the server holds now, so the partial is dropped and
// the archive asked for again from the start (once). Either way a ("restart", "", 0, 0) call
// tells the progress receiver that the bytes kept are back to 0.
#include "net/http_util.h"

#include <cstdio>
#include <memory>
#include <string>

#include "net/body_sink.h"
#include "net/curl_handle.h"
#include "net/curl_options.h"
#include "net/transfer_words.h"
#include "package/archive_digest.h"

namespace {

bool IsSuccessStatus(long status) { return status == 200 || status == 206; }

// What the libcurl hooks need for one transfer.
struct Transfer {
  CURL* handle = nullptr;
  BodySink* sink = nullptr;
  const TransferCallback* callback = nullptr;
  bool rangeAsked = false;           // the request asked for the bytes after the sink's position
  std::uint64_t archiveBytes = 0;    // the whole archive, 0 when unknown
  std::uint64_t transferOffset = 0;  // where this answer's body starts in the archive
};

// ("trans", "", received, expected) while an expected size is known: the answer's own length,
// else what is left of the archive after this answer's start.
int ReportDownloadProgress(void* transferData, curl_off_t downloadTotal, curl_off_t downloadNow, curl_off_t,
                           curl_off_t) {
  const auto& transfer = *static_cast<const Transfer*>(transferData);
  double expected = static_cast<double>(downloadTotal);
  if (downloadTotal <= 0 && transfer.archiveBytes > transfer.transferOffset) {
    expected = static_cast<double>(transfer.archiveBytes - transfer.transferOffset);
  }
  if (expected <= 0) return 0;
  (*transfer.callback)(transfer::kTrans, "", static_cast<double>(downloadNow), expected);
  return 0;
}

// At the end of an answer's headers the status is known: a 200 to a range request carries the
// whole archive, so the file is started over before its first byte (and before any progress of
// it is reported).
std::size_t SeeHeader(char* data, std::size_t size, std::size_t count, void* transferData) {
  auto& transfer = *static_cast<Transfer*>(transferData);
  const std::string line(data, size * count);
  if (line != "\r\n" && line != "\n") return size * count;
  long status = 0;
  curl_easy_getinfo(transfer.handle, CURLINFO_RESPONSE_CODE, &status);
  if (status == 200 && transfer.rangeAsked && transfer.sink->Position() != 0) {
    std::printf("the server ignored the range and sends the whole archive: writing it from the start\n");
    if (!transfer.sink->Restart(0)) return 0;  // libcurl ends the transfer with a write error
    transfer.transferOffset = 0;
    (*transfer.callback)(transfer::kRestart, "", 0, 0);
  }
  return size * count;
}

// Only the body of a 200 or 206 answer is kept: an error page appended to a partial archive
// would spoil the bytes a later attempt resumes from.
std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* transferData) {
  auto& transfer = *static_cast<Transfer*>(transferData);
  long status = 0;
  curl_easy_getinfo(transfer.handle, CURLINFO_RESPONSE_CODE, &status);
  if (!IsSuccessStatus(status)) return size * count;
  return transfer.sink->Write(data, size * count) ? size * count : 0;
}

// The digest of the finished file, for the verification stage; a spoiled one is left out, so
// the verification reads the file itself.
void RememberDigest(const std::string& path, ArchiveDigest& digest) {
  const auto digests = digest.Finish();
  if (digests) {
    DigestMemo::Remember(path, *digests);
  } else {
    DigestMemo::Forget(path);
  }
}

}  // namespace

void HttpUtil::Download(const DownloadTask& task) {
  const TransferCallback& callback = task.callback;
  std::shared_ptr<ArchiveDigest> digest = task.digest;
  if (!digest && !task.localPath.empty()) digest = std::make_shared<ArchiveDigest>(task.withSha256);
  BodySink sink(task.localPath, task.maxBodyBytes, digest.get(), task.growing.get());
  std::uint64_t offset = 0;
  if (!sink.Open(task.resumeOffset, offset)) {
    callback(transfer::kFail, transfer::kCannotOpenLocalFile + task.localPath, 0, 0);
    return;
  }

  CurlEasy handle = MakeCurlEasy();
  if (!handle) {
    sink.Close();
    callback(transfer::kFail, transfer::kCannotInitCurl, 0, 0);
    return;
  }
  CURL* curl = handle.get();
  Transfer transfer{curl, &sink, &callback, false, task.archiveBytes, 0};
  CURLcode result = CURLE_OK;
  long status = -1;
  for (bool again = true; again;) {
    again = false;
    curl_options::TransferOptions options;
    options.url = task.url;
    options.write = &WriteBody;
    options.writeData = &transfer;
    options.header = &SeeHeader;
    options.headerData = &transfer;
    options.progress = &ReportDownloadProgress;
    options.progressData = &transfer;
    options.lowSpeedLimit = task.stallBytesPerSecond;
    options.lowSpeedTime = task.stallSeconds;
    // A connection that does not complete within the window is a stall too (libcurl's own limit
    // is minutes).
    options.connectTimeoutMs = task.stallSeconds * 1000;
    options.verbose = true;
    // libcurl's receive buffer stays at its 16 KiB: bigger ones measured no faster from the test
    // server on loopback (download_bench, 256 MiB, medians of 5: 0.95 s at 16 KiB, 1.02 s at
    // 256 KiB; 1 MiB slower still), the digest of each block costing far more than the calls.
    // The range is asked for as a plain byte range rather than libcurl's resume option: that
    // option turns an answer without Content-Range (an error page, or a server ignoring ranges)
    // into a range error that would fail every retry the same way.
    if (offset != 0) options.range = std::to_string(offset) + "-";
    transfer.rangeAsked = offset != 0;
    transfer.transferOffset = offset;
    curl_options::Apply(curl, options);
    result = curl_easy_perform(curl);
    status = -1;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status == 416 && offset != 0 && sink.Restart(0)) {
      std::printf("the server holds less than the %llu bytes kept: downloading from the start\n",
                  static_cast<unsigned long long>(offset));
      callback(transfer::kRestart, "", 0, 0);
      offset = 0;
      again = true;
    }
  }
  handle.reset();
  if (!sink.Close() && result == CURLE_OK) result = CURLE_WRITE_ERROR;

  const int httpStatus = static_cast<int>(status);
  if (result == CURLE_OK && IsSuccessStatus(status)) {
    // Before "succ": the verification that follows looks for this digest.
    if (digest) RememberDigest(task.localPath, *digest);
    std::printf("download succ from %s to %s", task.url.c_str(), task.localPath.c_str());
    callback(transfer::kSucc, sink.Memory(), 0, 0);
    return;
  }
  char text[1024];
  std::snprintf(text, sizeof text, "curl perform fail, curl_code %d (%s), ret_code %d", static_cast<int>(result),
                curl_easy_strerror(result), httpStatus);
  std::printf("%s", text);
  callback(transfer::kFail, text, static_cast<double>(result), static_cast<double>(httpStatus));
}
