// Serves the files of one folder over HTTP on 127.0.0.1, for trying a release locally, for the
// demo and for tests. GET and HEAD only; single byte ranges; a log line per request.
//
// A test or a studio checking resumption can ask for the next answer of a path to be cut after
// some bytes (the connection is dropped half-way, as a flaky network would).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "tools/serve/request_log.h"

namespace serve {

class StaticServer {
 public:
  StaticServer(std::filesystem::path root, LogSink sink);
  ~StaticServer();  // stops and waits for the request threads
  StaticServer(const StaticServer&) = delete;
  StaticServer& operator=(const StaticServer&) = delete;

  // Listens on 127.0.0.1:`port`, 0 letting the system choose; returns the port.
  // Throws std::runtime_error when the port cannot be bound.
  int Bind(int port);
  // Serves on the calling thread until Stop() is called from another one.
  void Run();
  // Serves on a thread of its own; returns once requests are accepted.
  void Start();
  // Stops accepting, ends the connections and waits for the serving thread. Idempotent.
  void Stop();

  // The next answer for `path` ("/MorvanePC1/res_1_0_0.zip") sends `bytes` body bytes and then
  // drops the connection. Applies once.
  void CutNextAnswer(const std::string& path, std::uint64_t bytes);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace serve
