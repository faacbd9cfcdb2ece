// Archive download: one GET, appended to a partial file from the resume offset or collected in
// memory, progress through libcurl's progress hook, exactly one "succ" or "fail" at the end.
// Only the low-speed rule bounds the transfer (no overall or connect time-out): archives are
// large and connections slow.
#include "net/http_util.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "net/curl_handle.h"
#include "net/curl_options.h"
#include "net/transfer_words.h"
#include "platform/files.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using LocalFile = std::unique_ptr<std::FILE, FileCloser>;

bool IsSuccessStatus(long status) { return status == 200 || status == 206; }

// Where the body goes. Only the body of a 200 or 206 answer is kept: an error page appended to a
// partial archive would spoil the bytes a later attempt resumes from.
struct BodySink {
  CURL* handle = nullptr;
  std::FILE* file = nullptr;  // file mode
  std::string memory;         // memory mode
  std::uint64_t limit = 0;    // body bytes accepted at most; 0 for no limit
  std::uint64_t received = 0;

  // False once the body grows past the limit: the write then fails and libcurl ends the transfer.
  bool Accept(std::size_t bytes) {
    received += bytes;
    return limit == 0 || received <= limit;
  }

  bool Wanted() const {
    long status = 0;
    curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
    return IsSuccessStatus(status);
  }
};

std::size_t WriteToFile(char* data, std::size_t size, std::size_t count, void* sink) {
  auto& target = *static_cast<BodySink*>(sink);
  if (!target.Wanted()) return size * count;
  if (!target.Accept(size * count)) return 0;
  return std::fwrite(data, 1, size * count, target.file);
}

std::size_t AppendToBody(char* data, std::size_t size, std::size_t count, void* sink) {
  auto& target = *static_cast<BodySink*>(sink);
  if (!target.Wanted()) return size * count;
  if (!target.Accept(size * count)) return 0;
  target.memory.append(data, size * count);
  return size * count;
}

// The offset the local file really allows. Bytes past the offset are cut off, so the range the
// server sends continues the file exactly; a file shorter than the offset (or none) cannot be
// continued, and the download starts over.
// A link in the archive's place is never continued (nor cut): the download starts over and the
// link is replaced by a file of its own.
std::uint64_t ResumableOffset(const std::string& path, std::uint64_t requested) {
  if (requested == 0) return 0;
  std::error_code error;
  std::uint64_t size = 0;
  if (!platform::FileSize(path, &size)) error = std::make_error_code(std::errc::no_such_file_or_directory);
  if (!error && size > requested) std::filesystem::resize_file(path, requested, error);
  if (error || size < requested) {
    std::printf("cannot resume %s from %llu bytes, downloading from the start\n", path.c_str(),
                static_cast<unsigned long long>(requested));
    return 0;
  }
  return requested;
}

// Data still in the stdio buffer reaches the disk only here, so a full disk may show up only now.
bool Close(LocalFile& file) {
  std::FILE* raw = file.release();
  const bool flushed = std::fflush(raw) == 0;
  return std::fclose(raw) == 0 && flushed;
}

}  // namespace

void HttpUtil::Download(const DownloadTask& task) {
  const TransferCallback& callback = task.callback;
  const bool toFile = !task.localPath.empty();
  LocalFile file;
  std::uint64_t offset = task.resumeOffset;
  if (toFile) {
    offset = ResumableOffset(task.localPath, offset);
    file.reset(platform::OpenFileNoFollow(task.localPath,
                                          offset != 0 ? platform::WriteMode::Append : platform::WriteMode::Replace));
    if (!file) {
      callback(transfer::kFail, transfer::kCannotOpenLocalFile + task.localPath, 0, 0);
      return;
    }
  }

  CurlEasy handle = MakeCurlEasy();
  if (!handle) {
    file.reset();
    callback(transfer::kFail, transfer::kCannotInitCurl, 0, 0);
    return;
  }
  CURL* curl = handle.get();
  BodySink sink{curl, file.get(), {}, task.maxBodyBytes, 0};
  curl_options::TransferOptions options;
  options.url = task.url;
  options.write = toFile ? &WriteToFile : &AppendToBody;
  options.writeData = &sink;
  options.progressData = const_cast<TransferCallback*>(&callback);
  options.verbose = true;
  // The range is asked for as a plain byte range rather than libcurl's resume option: that option
  // turns an answer without Content-Range (an error page, or a server ignoring ranges) into a
  // range error that would fail every retry the same way. Here such an answer ends as its status
  // says, and an ignored range appends the whole body for the digest check to reject.
  if (offset != 0) options.range = std::to_string(offset) + "-";
  curl_options::Apply(curl, options);

  CURLcode result = curl_easy_perform(curl);
  long status = -1;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  handle.reset();
  if (toFile && !Close(file) && result == CURLE_OK) result = CURLE_WRITE_ERROR;

  const int httpStatus = static_cast<int>(status);
  if (result == CURLE_OK && IsSuccessStatus(status)) {
    std::printf("download succ from %s to %s", task.url.c_str(), task.localPath.c_str());
    callback(transfer::kSucc, sink.memory, 0, 0);
    return;
  }
  char text[1024];
  std::snprintf(text, sizeof text, "curl perform fail, curl_code %d (%s), ret_code %d", static_cast<int>(result),
                curl_easy_strerror(result), httpStatus);
  std::printf("%s", text);
  callback(transfer::kFail, text, static_cast<double>(result), static_cast<double>(httpStatus));
}
