#include "tests/support/content_server.h"

#include <httplib.h>

#include <algorithm>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace testsupport {

Fault Fault::Status(int code, std::string text) {
  Fault fault;
  fault.status = code;
  fault.body = std::move(text);
  return fault;
}

Fault Fault::Redirect(std::string target, int code) {
  Fault fault;
  fault.redirectTarget = std::move(target);
  fault.redirectStatus = code;
  return fault;
}

Fault Fault::StallAfter(std::uint64_t bytes, std::chrono::milliseconds duration) {
  Fault fault;
  fault.stallAfter = bytes;
  fault.stallFor = duration;
  return fault;
}

Fault Fault::CloseAfter(std::uint64_t bytes) {
  Fault fault;
  fault.closeAfter = bytes;
  return fault;
}

Fault Fault::IgnoreRange() {
  Fault fault;
  fault.ignoreRange = true;
  return fault;
}

Fault Fault::NoLength(NoLengthKind kind) {
  Fault fault;
  fault.noLength = kind;
  return fault;
}

Fault Fault::Endless() {
  Fault fault;
  fault.endless = true;
  return fault;
}

Fault Fault::Trickle(std::chrono::milliseconds interval) {
  Fault fault;
  fault.trickleEvery = interval;
  return fault;
}

namespace {

constexpr std::size_t kBlockSize = 64 * 1024;

std::string WithoutLeadingSlash(const std::string& path) {
  std::size_t start = 0;
  while (start < path.size() && path[start] == '/') ++start;
  return path.substr(start);
}

std::string ContentTypeOf(const std::string& path) {
  const auto dot = path.rfind('.');
  if (dot != std::string::npos && path.substr(dot) == ".json") return "application/json";
  return "application/octet-stream";
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Where a body comes from: memory or a file on disk. Reads are positioned, so one source may
// serve several requests at once.
class BodySource {
 public:
  explicit BodySource(std::shared_ptr<const std::string> memory) : memory_(std::move(memory)), size_(memory_->size()) {}
  BodySource(FileHandle file, std::uint64_t size) : file_(std::move(file)), size_(size) {}

  std::uint64_t Size() const { return size_; }

  // Up to `length` bytes from `offset`; fewer only at the end or on a read error.
  std::size_t Read(std::uint64_t offset, char* buffer, std::size_t length) {
    if (offset >= size_) return 0;
    length = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
    if (memory_) {
      std::copy_n(memory_->data() + offset, length, buffer);
      return length;
    }
    if (fseeko(file_.get(), static_cast<off_t>(offset), SEEK_SET) != 0) return 0;
    return std::fread(buffer, 1, length, file_.get());
  }

 private:
  std::shared_ptr<const std::string> memory_;
  FileHandle file_;
  std::uint64_t size_;
};

struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;  // inclusive
};

// "bytes=N-" or "bytes=N-M"; anything else (suffix or multiple ranges) is not used by the
// launcher and reads as "no range". Returns false for a range that cannot be satisfied.
bool ParseRange(const std::string& header, std::uint64_t size, std::optional<ByteRange>& range) {
  range.reset();
  const std::string prefix = "bytes=";
  if (header.rfind(prefix, 0) != 0) return true;
  const std::string rangeText = header.substr(prefix.size());
  const auto dash = rangeText.find('-');
  if (dash == std::string::npos || dash == 0 || rangeText.find(',') != std::string::npos) return true;
  ByteRange parsed;
  try {
    parsed.first = std::stoull(rangeText.substr(0, dash));
    parsed.last = dash + 1 < rangeText.size() ? std::stoull(rangeText.substr(dash + 1)) : size - 1;
  } catch (const std::exception&) {
    return true;
  }
  if (size == 0 || parsed.first >= size || parsed.last < parsed.first) return false;
  parsed.last = std::min(parsed.last, size - 1);
  range = parsed;
  return true;
}

}  // namespace

struct ContentServer::Impl {
  httplib::Server server;
  std::thread listener;

  mutable std::mutex mutex;
  std::condition_variable wake;             // cuts stalls short on Stop()
  mutable std::condition_variable counted;  // a body's bytes were counted
  bool stopping = false;
  std::filesystem::path root;
  std::map<std::string, std::shared_ptr<const std::string>> memoryFiles;
  std::map<std::string, Fault> faults;
  std::map<std::string, int> requestCounts;
  std::map<std::string, std::uint64_t> bytesSent;
  std::vector<RequestLogEntry> log;
  bool echoLog = std::getenv("CONTENT_SERVER_LOG") != nullptr;

  void Handle(const httplib::Request& request, httplib::Response& response);
  std::shared_ptr<BodySource> FindBody(const std::string& path);
  void Record(RequestLogEntry entry);
  void CountSent(const std::string& path, std::size_t bytes);
  // False when the server stops during the pause.
  bool Pause(std::chrono::milliseconds duration);
  void ServeBody(const std::string& path, std::shared_ptr<BodySource> body, std::uint64_t first, std::uint64_t length,
                 const Fault& fault, httplib::Response& response);
  void ServeEndless(const std::string& path, httplib::Response& response);
};

void ContentServer::Impl::ServeEndless(const std::string& path, httplib::Response& response) {
  auto filler = std::make_shared<const std::string>(kBlockSize, ' ');
  response.set_chunked_content_provider("application/octet-stream",
                                        [this, path, filler](std::size_t, httplib::DataSink& sink) {
                                          {
                                            std::lock_guard<std::mutex> lock(mutex);
                                            if (stopping) return false;
                                          }
                                          if (!sink.write(filler->data(), filler->size())) return false;
                                          CountSent(path, filler->size());
                                          return true;
                                        });
}

std::shared_ptr<BodySource> ContentServer::Impl::FindBody(const std::string& path) {
  std::filesystem::path rootCopy;
  {
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = memoryFiles.find(path);
    if (found != memoryFiles.end()) return std::make_shared<BodySource>(found->second);
    rootCopy = root;
  }
  if (rootCopy.empty() || path.find("..") != std::string::npos) return nullptr;
  const std::filesystem::path file = rootCopy / path;
  std::error_code error;
  if (!std::filesystem::is_regular_file(file, error)) return nullptr;
  const auto size = std::filesystem::file_size(file, error);
  if (error) return nullptr;
  FileHandle handle(std::fopen(file.c_str(), "rb"));
  if (!handle) return nullptr;
  return std::make_shared<BodySource>(std::move(handle), size);
}

void ContentServer::Impl::Record(RequestLogEntry entry) {
  if (echoLog) {
    std::fprintf(stderr, "[content server] %s /%s%s%s range=\"%s\" -> %d\n", entry.method.c_str(), entry.path.c_str(),
                 entry.query.empty() ? "" : "?", entry.query.c_str(), entry.range.c_str(), entry.status);
  }
  std::lock_guard<std::mutex> lock(mutex);
  log.push_back(std::move(entry));
}

void ContentServer::Impl::CountSent(const std::string& path, std::size_t bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    bytesSent[path] += bytes;
  }
  counted.notify_all();
}

bool ContentServer::Impl::Pause(std::chrono::milliseconds duration) {
  std::unique_lock<std::mutex> lock(mutex);
  return !wake.wait_for(lock, duration, [this] { return stopping; });
}

void ContentServer::Impl::Handle(const httplib::Request& request, httplib::Response& response) {
  const std::string path = WithoutLeadingSlash(request.path);
  RequestLogEntry entry{
      request.method, path, "", request.get_header_value("Range"), request.get_header_value("Connection"), 0};
  const auto queryStart = request.target.find('?');
  if (queryStart != std::string::npos) entry.query = request.target.substr(queryStart + 1);

  Fault fault;
  {
    std::lock_guard<std::mutex> lock(mutex);
    ++requestCounts[path];
    auto found = faults.find(path);
    const std::string& range = entry.range;
    if (found != faults.end() && found->second.wholeOnly && !range.empty() && range.back() != '-') found = faults.end();
    if (found != faults.end() && found->second.healthyFirst > 0) {
      --found->second.healthyFirst;
    } else if (found != faults.end()) {
      fault = found->second;
    }
  }
  // The server library would cut the body to the asked range on its own; ranges are answered
  // here instead, so that they can also be ignored. The request object is not const itself.
  const_cast<httplib::Request&>(request).ranges.clear();

  if (fault.status != 0) {
    response.status = fault.status;
    response.set_content(fault.body, "text/plain");
    entry.status = fault.status;
    Record(std::move(entry));
    return;
  }
  if (!fault.redirectTarget.empty()) {
    const bool absolute = fault.redirectTarget.rfind("http://", 0) == 0;
    // Appended rather than "/" + target: GCC 12 warns falsely (-Wrestrict) on that form at -O3.
    std::string location = absolute ? std::string() : std::string("/");
    location += absolute ? fault.redirectTarget : WithoutLeadingSlash(fault.redirectTarget);
    response.set_redirect(location, fault.redirectStatus);
    entry.status = fault.redirectStatus;
    Record(std::move(entry));
    return;
  }
  if (fault.endless) {
    response.status = 200;
    entry.status = 200;
    Record(std::move(entry));
    ServeEndless(path, response);
    return;
  }
  auto body = FindBody(path);
  if (!body) {
    response.status = 404;
    response.set_content("not found", "text/plain");
    entry.status = 404;
    Record(std::move(entry));
    return;
  }

  const std::uint64_t size = body->Size();
  std::optional<ByteRange> range;
  if (!fault.ignoreRange && !ParseRange(entry.range, size, range)) {
    response.status = 416;
    response.set_header("Content-Range", "bytes */" + std::to_string(size));
    entry.status = 416;
    Record(std::move(entry));
    return;
  }
  std::uint64_t first = 0;
  std::uint64_t length = size;
  response.status = 200;
  if (range && fault.noLength == NoLengthKind::kNone) {
    first = range->first;
    length = range->last - range->first + 1;
    response.status = 206;
    response.set_header("Content-Range", "bytes " + std::to_string(range->first) + "-" + std::to_string(range->last) +
                                             "/" + std::to_string(size));
  }
  response.set_header("Accept-Ranges", "bytes");
  entry.status = response.status;
  Record(std::move(entry));
  ServeBody(path, std::move(body), first, length, fault, response);
}

void ContentServer::Impl::ServeBody(const std::string& path, std::shared_ptr<BodySource> body, std::uint64_t first,
                                    std::uint64_t length, const Fault& fault, httplib::Response& response) {
  // `sent` counts body bytes of this answer; the library's own offset restarts per call style.
  auto sent = std::make_shared<std::uint64_t>(0);
  auto stalled = std::make_shared<bool>(false);
  auto buffer = std::make_shared<std::vector<char>>(kBlockSize);
  auto writeSome = [this, path, body, first, length, fault, sent, stalled, buffer](httplib::DataSink& sink) -> bool {
    if (fault.closeAfter && *sent >= *fault.closeAfter) return false;  // drops the connection
    if (fault.stallAfter && !*stalled && *sent >= *fault.stallAfter) {
      *stalled = true;
      if (!Pause(fault.stallFor)) return false;
    }
    std::uint64_t limit = std::min<std::uint64_t>(kBlockSize, length - *sent);
    if (fault.trickleEvery.count() > 0) {
      if (!Pause(fault.trickleEvery)) return false;
      limit = std::min<std::uint64_t>(limit, 1);
    }
    if (fault.closeAfter) limit = std::min(limit, *fault.closeAfter - *sent);
    if (fault.stallAfter && !*stalled) limit = std::min(limit, *fault.stallAfter - *sent);
    const std::size_t got = body->Read(first + *sent, buffer->data(), static_cast<std::size_t>(limit));
    if (got == 0 && limit > 0) return false;
    if (got > 0 && !sink.write(buffer->data(), got)) return false;
    *sent += got;
    CountSent(path, got);
    return true;
  };

  const std::string type = ContentTypeOf(path);
  if (fault.noLength == NoLengthKind::kNone) {
    response.set_content_provider(
        static_cast<std::size_t>(length), type,
        [writeSome](std::size_t, std::size_t, httplib::DataSink& sink) { return writeSome(sink); });
    return;
  }
  auto untilDone = [writeSome, sent, length](std::size_t, httplib::DataSink& sink) {
    if (*sent >= length) {
      sink.done();
      return true;
    }
    return writeSome(sink);
  };
  if (fault.noLength == NoLengthKind::kChunked) {
    response.set_chunked_content_provider(type, untilDone);
  } else {
    response.set_header("Connection", "close");
    response.set_content_provider(type, untilDone);
  }
}

ContentServer::ContentServer() : impl_(std::make_unique<Impl>()) { Listen("127.0.0.1", 0); }

ContentServer::ContentServer(const std::string& host, int port) : impl_(std::make_unique<Impl>()) {
  if (host.rfind("127.", 0) != 0) throw std::runtime_error("content server: only loopback addresses, not " + host);
  Listen(host, port);
}

void ContentServer::Listen(const std::string& host, int port) {
  host_ = host;
  // A client that hangs up mid-body must not kill the test process.
  std::signal(SIGPIPE, SIG_IGN);
  impl_->server.new_task_queue = [] { return new httplib::ThreadPool(16); };
  impl_->server.set_keep_alive_timeout(1);
  impl_->server.set_payload_max_length(1024 * 1024);
  impl_->server.Get(".*", [impl = impl_.get()](const httplib::Request& request, httplib::Response& response) {
    impl->Handle(request, response);
  });
  if (port == 0) {
    port_ = impl_->server.bind_to_any_port(host.c_str());
  } else {
    // Without the library's SO_REUSEPORT: a second server on the same fixed port must fail to
    // bind, not share the connections of the first one at random.
    impl_->server.set_socket_options([](socket_t sock) {
      int yes = 1;
      setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    port_ = impl_->server.bind_to_port(host.c_str(), port) ? port : -1;
  }
  if (port_ <= 0) throw std::runtime_error("content server: cannot bind " + host + ":" + std::to_string(port));
  impl_->listener = std::thread([impl = impl_.get()] { impl->server.listen_after_bind(); });
  // stop() before the accept loop runs would be lost, so Stop() must not be able to come first.
  while (!impl_->server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

ContentServer::~ContentServer() { Stop(); }

void ContentServer::Stop() {
  if (!impl_->listener.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->stopping = true;
  }
  impl_->wake.notify_all();
  impl_->server.stop();
  impl_->listener.join();
}

std::string ContentServer::BaseUrl() const { return "http://" + host_ + ":" + std::to_string(port_) + "/"; }

std::string ContentServer::Url(const std::string& path) const { return BaseUrl() + WithoutLeadingSlash(path); }

void ContentServer::ServeFolder(const std::filesystem::path& root) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->root = root;
}

void ContentServer::AddFile(const std::string& path, std::string content) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->memoryFiles[WithoutLeadingSlash(path)] = std::make_shared<const std::string>(std::move(content));
}

void ContentServer::RemoveFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->memoryFiles.erase(WithoutLeadingSlash(path));
}

void ContentServer::SetFault(const std::string& path, Fault fault) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->faults[WithoutLeadingSlash(path)] = std::move(fault);
}

void ContentServer::ClearFault(const std::string& path) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->faults.erase(WithoutLeadingSlash(path));
}

int ContentServer::RequestCount(const std::string& path) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  const auto found = impl_->requestCounts.find(WithoutLeadingSlash(path));
  return found == impl_->requestCounts.end() ? 0 : found->second;
}

std::uint64_t ContentServer::BytesSent(const std::string& path) const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  const auto found = impl_->bytesSent.find(WithoutLeadingSlash(path));
  return found == impl_->bytesSent.end() ? 0 : found->second;
}

std::uint64_t ContentServer::WaitForBytesSent(const std::string& path, std::uint64_t expected,
                                              std::chrono::milliseconds timeout) const {
  const std::string key = WithoutLeadingSlash(path);
  std::unique_lock<std::mutex> lock(impl_->mutex);
  const auto sent = [&] {
    const auto found = impl_->bytesSent.find(key);
    return found == impl_->bytesSent.end() ? std::uint64_t{0} : found->second;
  };
  impl_->counted.wait_for(lock, timeout, [&] { return sent() >= expected; });
  return sent();
}

std::vector<RequestLogEntry> ContentServer::Log() const {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->log;
}

std::vector<RequestLogEntry> ContentServer::LogFor(const std::string& path) const {
  const std::string key = WithoutLeadingSlash(path);
  std::vector<RequestLogEntry> entries;
  for (auto& entry : Log()) {
    if (entry.path == key) entries.push_back(std::move(entry));
  }
  return entries;
}

void ContentServer::ResetCounters() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->requestCounts.clear();
  impl_->bytesSent.clear();
  impl_->log.clear();
}

}  // namespace testsupport
