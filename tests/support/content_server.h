// An in-process HTTP content server for tests, listening on 127.0.0.1 at a port the system
// chooses. It serves files from a folder and from memory, honours single byte ranges
// ("bytes=N-" and "bytes=N-M", answered 206 with Content-Range), counts requests and body
// bytes per path, logs every request, and can be told per path to misbehave.
//
// Paths are given without the leading "/" and without the query: "MorvanePC1/config.json".
// Requests are matched on the path only; the query string is logged but ignored.
//
// Typical use in a fixture:
//   ContentServer server;                         // started; stopped by the destructor
//   server.ServeFolder(scratchDir);               // files below the folder
//   server.AddFile("MorvanePC1/config.json", R"({"lastVersion":"1.0.0"})");
//   server.SetFault("pkg.zip", Fault::CloseAfter(1000));
//   ... HttpUtil::Download({0, localPath, callback, server.Url("pkg.zip")});
//   EXPECT_EQ(server.RequestCount("pkg.zip"), 1);
//
// Misbehaviours (one Fault per path, replaced by the next SetFault):
//   Fault::Status(code, body)      answer `code` with `body` instead of the content
//   Fault::Redirect(target, code)  answer `code` (302) with Location "/target"; a path redirecting
//                                  to itself (or two paths to each other) makes a loop
//   Fault::StallAfter(n, duration) send n body bytes, send nothing for `duration`, then the rest
//                                  (Stop() cuts the stall short)
//   Fault::CloseAfter(n)           send n body bytes of a full-length answer, then drop the connection
//   Fault::IgnoreRange()           answer 200 with the whole body whatever the Range header asks
//   Fault::NoLength(kind)          no Content-Length: chunked transfer encoding, or the body ended by
//                                  closing the connection
//   Fault::Endless()               200 with a chunked body of filler that never ends (until Stop())
//   Fault::Trickle(interval)       the content, one byte per interval (a mirror on a dying line)
// A fault with `healthyFirst` set lets that many requests of its path through unharmed first (a
// fault for the third request of an archive fetched by ranges); one with `wholeOnly` set lets
// every request for a closed range ("bytes=N-M", "bytes=-N") through unharmed and uncounted, so
// that it meets the download of the whole archive (no range, or "bytes=N-") and not the pieces an
// update by files reads before it falls back.
// A redirect target that starts with "http://" is sent as it is, so a path can point at another
// loopback server (another port, or another loopback address such as 127.0.0.2).
// Several effects combine in one Fault by setting its fields directly.
//
// Thread safety: every method may be called from any thread while the server runs; counters and
// the log are read under the same lock the request threads write them with. Stop() (or the
// destructor) waits until every request thread has ended, so a test can tear down cleanly under
// the thread sanitizer.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

enum class NoLengthKind { kNone, kChunked, kCloseDelimited };

struct Fault {
  int status = 0;                           // non-zero: answer this status with `body`
  std::string body;                         // body of a status answer
  std::string redirectTarget;               // non-empty: redirect to "/" + target
  int redirectStatus = 302;                 //
  std::optional<std::uint64_t> stallAfter;  // body bytes sent before the stall
  std::chrono::milliseconds stallFor{0};    //
  std::optional<std::uint64_t> closeAfter;  // body bytes sent before the connection is dropped
  bool ignoreRange = false;                 // whole body with 200 even when a range was asked for
  NoLengthKind noLength = NoLengthKind::kNone;
  bool endless = false;                       // 200 with filler bytes in chunks until the server stops
  std::chrono::milliseconds trickleEvery{0};  // non-zero: one body byte per this interval
  int healthyFirst = 0;                       // requests answered as if there were no fault, before it applies
  bool wholeOnly = false;                     // applies to requests without a range or with an open one only

  static Fault Status(int code, std::string text = "");
  static Fault Redirect(std::string target, int code = 302);
  static Fault StallAfter(std::uint64_t bytes, std::chrono::milliseconds duration);
  static Fault CloseAfter(std::uint64_t bytes);
  static Fault IgnoreRange();
  static Fault NoLength(NoLengthKind kind = NoLengthKind::kChunked);
  static Fault Endless();
  static Fault Trickle(std::chrono::milliseconds interval);
};

// One request as the server saw it.
struct RequestLogEntry {
  std::string method;
  std::string path;        // without the leading "/"
  std::string query;       // "rand=17" or empty
  std::string range;       // the Range header as sent, or empty
  std::string connection;  // the Connection header as sent, or empty
  int status = 0;          // the status the server chose to answer
};

class ContentServer {
 public:
  // Starts listening at once. Throws std::runtime_error when no port could be bound.
  ContentServer();
  // Listens on a fixed loopback address and port, for a launcher built with that base URL.
  // `host` must be a loopback address ("127.0.0.1", "127.0.0.2", ...). Throws when another
  // server listens there already.
  ContentServer(const std::string& host, int port);
  ~ContentServer();
  ContentServer(const ContentServer&) = delete;
  ContentServer& operator=(const ContentServer&) = delete;

  int Port() const { return port_; }
  // "http://<host>:<port>/", host 127.0.0.1 unless another loopback address was given
  std::string BaseUrl() const;
  // BaseUrl() + path (the path may carry a query).
  std::string Url(const std::string& path) const;

  // Files below `root` are served by their relative path; in-memory files take precedence.
  void ServeFolder(const std::filesystem::path& root);
  void AddFile(const std::string& path, std::string content);
  void RemoveFile(const std::string& path);

  void SetFault(const std::string& path, Fault fault);
  void ClearFault(const std::string& path);

  // Requests that reached the handler for `path`, whatever was answered.
  int RequestCount(const std::string& path) const;
  // Body bytes handed to the network for `path` (not counting headers).
  std::uint64_t BytesSent(const std::string& path) const;
  // BytesSent once it reaches `expected`, or what it is after `timeout`: a client can have read
  // the last bytes before the server's thread has counted them.
  std::uint64_t WaitForBytesSent(const std::string& path, std::uint64_t expected,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
  std::vector<RequestLogEntry> Log() const;
  // The entries for `path` only, oldest first.
  std::vector<RequestLogEntry> LogFor(const std::string& path) const;
  void ResetCounters();

  // Stops accepting, cuts stalls short and waits for every request thread. Idempotent.
  void Stop();

 private:
  struct Impl;
  void Listen(const std::string& host, int port);

  std::unique_ptr<Impl> impl_;
  std::string host_ = "127.0.0.1";
  int port_ = 0;
};

}  // namespace testsupport
