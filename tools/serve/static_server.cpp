#include "tools/serve/static_server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tools/serve/byte_range.h"
#include "tools/serve/served_path.h"

namespace serve {
namespace fs = std::filesystem;
namespace {

constexpr const char* kHost = "127.0.0.1";
constexpr std::size_t kChunkSize = 64 * 1024;
constexpr time_t kKeepAliveSeconds = 1;  // idle connections must not hold up Stop() for long

std::string MimeType(const fs::path& file) {
  const std::string extension = file.extension().string();
  if (extension == ".json") return "application/json";
  if (extension == ".zip") return "application/zip";
  return "application/octet-stream";
}

std::string TargetOf(const httplib::Request& request) { return request.target.empty() ? request.path : request.target; }

// Body bytes of one answer, written by the request thread and read by the same thread when
// the answer is released.
struct BodyProgress {
  std::ifstream file;
  std::uint64_t first = 0;
  std::uint64_t sent = 0;
  std::optional<std::uint64_t> cutAfter;
  RequestLogLine line;
};

}  // namespace

struct StaticServer::Impl {
  fs::path root;
  LogSink sink;
  httplib::Server server;
  std::thread thread;
  std::atomic<bool> listenEnded{false};
  std::mutex mutex;  // guards cuts
  std::map<std::string, std::uint64_t> cuts;

  std::optional<std::uint64_t> TakeCut(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    const auto it = cuts.find(path);
    if (it == cuts.end()) return std::nullopt;
    const std::uint64_t bytes = it->second;
    cuts.erase(it);
    return bytes;
  }

  void Log(const RequestLogLine& line) {
    if (sink) sink(line);
  }

  void Handle(const httplib::Request& request, httplib::Response& response);
  void SendFile(const httplib::Request& request, httplib::Response& response, const fs::path& file);
};

void StaticServer::Impl::Handle(const httplib::Request& request, httplib::Response& response) {
  // The library would cut the answer to the Range header a second time; ranges are answered
  // here, with 416 and whole-file fallbacks the library does not give. The request object
  // itself is not const; only the handler's view of it is.
  const_cast<httplib::Request&>(request).ranges.clear();
  const auto file = ResolveServedFile(root, request.path);
  if (!file) {
    response.status = 404;
    response.set_content("not found\n", "text/plain");
    return;
  }
  SendFile(request, response, *file);
}

void StaticServer::Impl::SendFile(const httplib::Request& request, httplib::Response& response, const fs::path& file) {
  std::error_code error;
  const std::uint64_t size = fs::file_size(file, error);
  if (error) {
    response.status = 404;
    response.set_content("not found\n", "text/plain");
    return;
  }
  const std::string rangeHeader = request.get_header_value("Range");
  const RangeAnswer answer = AnswerRange(rangeHeader, size);
  response.set_header("Accept-Ranges", "bytes");
  if (answer.kind == RangeAnswer::Kind::kUnsatisfiable) {
    response.status = 416;
    response.set_header("Content-Range", ContentRangeValue(answer, size));
    return;
  }
  response.status = answer.kind == RangeAnswer::Kind::kPartial ? 206 : 200;
  if (answer.kind == RangeAnswer::Kind::kPartial) response.set_header("Content-Range", ContentRangeValue(answer, size));
  if (answer.length == 0) return;  // an empty file: "Content-Length: 0", no body to provide

  auto progress = std::make_shared<BodyProgress>();
  progress->file.open(file, std::ios::binary);
  progress->first = answer.first;
  progress->cutAfter = TakeCut(request.path);
  progress->line = {request.method, TargetOf(request), rangeHeader, response.status, 0};

  auto provide = [progress](size_t offset, size_t length, httplib::DataSink& out) {
    std::uint64_t wanted = std::min<std::uint64_t>(length, kChunkSize);
    if (progress->cutAfter) {
      if (progress->sent >= *progress->cutAfter) return false;  // drops the connection
      wanted = std::min<std::uint64_t>(wanted, *progress->cutAfter - progress->sent);
    }
    std::vector<char> chunk(static_cast<std::size_t>(wanted));
    progress->file.seekg(static_cast<std::streamoff>(progress->first + offset));
    progress->file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<std::size_t>(progress->file.gcount());
    if (got == 0 || !out.write(chunk.data(), got)) return false;
    progress->sent += got;
    return true;
  };
  // Released when the answer is done with, also after a cut, so every body gets its line.
  auto release = [this, progress](bool) {
    progress->line.bytes = progress->sent;
    Log(progress->line);
  };
  response.set_content_provider(static_cast<size_t>(answer.length), MimeType(file), provide, release);
}

StaticServer::StaticServer(fs::path root, LogSink sink) : impl_(std::make_unique<Impl>()) {
  impl_->root = std::move(root);
  impl_->sink = std::move(sink);
  auto handler = [impl = impl_.get()](const httplib::Request& request, httplib::Response& response) {
    impl->Handle(request, response);
  };
  impl_->server.Get(".*", handler);
  impl_->server.set_keep_alive_timeout(kKeepAliveSeconds);
  // The library's default also sets SO_REUSEPORT, which lets a second server share a busy port
  // and take some of its connections; a busy port must be an error instead.
  impl_->server.set_socket_options([](socket_t socket) {
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  // Answers with a body provider are logged when the provider is released (with the bytes
  // actually sent); every other answer here.
  impl_->server.set_logger([impl = impl_.get()](const httplib::Request& request, const httplib::Response& response) {
    if (response.content_provider_) return;
    const std::uint64_t bytes = request.method == "HEAD" ? 0 : response.body.size();
    impl->Log({request.method, TargetOf(request), request.get_header_value("Range"), response.status, bytes});
  });
}

StaticServer::~StaticServer() { Stop(); }

int StaticServer::Bind(int port) {
  const int bound =
      port == 0 ? impl_->server.bind_to_any_port(kHost) : (impl_->server.bind_to_port(kHost, port) ? port : -1);
  if (bound <= 0) throw std::runtime_error("cannot listen on " + std::string(kHost) + ":" + std::to_string(port));
  return bound;
}

void StaticServer::Run() { impl_->server.listen_after_bind(); }

void StaticServer::Start() {
  impl_->thread = std::thread([impl = impl_.get()] {
    impl->server.listen_after_bind();
    impl->listenEnded = true;
  });
  // stop() only takes effect once the server runs, so Stop() must not come before that.
  while (!impl_->server.is_running() && !impl_->listenEnded) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void StaticServer::Stop() {
  impl_->server.stop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

void StaticServer::CutNextAnswer(const std::string& path, std::uint64_t bytes) {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  impl_->cuts[path] = bytes;
}

}  // namespace serve
