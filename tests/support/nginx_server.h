// nginx, started by a test on 127.0.0.1 with the configuration that produces the behaviour the
// test needs (limit_rate, max_ranges, return, error_page, TLS), in a scratch folder of its own.
//
// The configuration text is the body of the http block. "@PORT0@", "@PORT1@", ... stand for
// ports chosen free on 127.0.0.1; "@ROOT@" for the folder the files are served from (Root()).
// Every request is logged as one line "<port> <status> <uri> <range>", read by RequestCount().
//
//   NginxServer nginx(R"(server { listen 127.0.0.1:@PORT0@; root @ROOT@; limit_rate 2; })");
//   ASSERT_TRUE(nginx.Started()) << nginx.ErrorLog();
//   ... nginx.Url(0, "MorvanePC1/config.json") ...
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/scratch_dir.h"

namespace testsupport {

class NginxServer {
 public:
  // Writes the configuration, starts nginx in the foreground and waits (at most 10 s) until every
  // port accepts. Started() tells whether that worked.
  explicit NginxServer(const std::string& httpBlock, int portCount = 1);
  // The same on the given ports (a launcher built with a fixed base URL needs its own port).
  NginxServer(const std::string& httpBlock, std::vector<int> ports);
  ~NginxServer();
  NginxServer(const NginxServer&) = delete;
  NginxServer& operator=(const NginxServer&) = delete;

  bool Started() const { return started_; }
  int Port(int index) const { return ports_.at(static_cast<std::size_t>(index)); }
  // "http://127.0.0.1:<port>/" (or https://) of port `index`.
  std::string BaseUrl(int index, const char* scheme = "http") const;
  std::string Url(int index, const std::string& path, const char* scheme = "http") const;
  // The folder served as @ROOT@; the test writes its files there.
  const std::filesystem::path& Root() const { return root_; }
  const std::filesystem::path& Folder() const { return scratch_.Path(); }
  // Requests logged for port `index` whose URI (without the query) is "/" + `path`; "" counts all.
  int RequestCount(int index, const std::string& path = "") const;
  // nginx logs a request when it ends (a client that gave up: when nginx notices): waits at most
  // `limitMs` until RequestCount(index, path) reaches `count`; returns the count then.
  int WaitForRequests(int index, const std::string& path, int count, int limitMs = 3000) const;
  // Bytes nginx sent (headers and body) for the logged requests of port `index` whose URI is "/" +
  // `path`; "" counts all. Wait for the requests first: a request is logged when it ends.
  std::uint64_t BytesSent(int index, const std::string& path = "") const;
  // Logged lines of port `index`, oldest first.
  std::vector<std::string> LogLines(int index) const;
  std::string ErrorLog() const;

 private:
  void Start(const std::string& httpBlock);

  ScratchDir scratch_{"nginx"};
  std::filesystem::path root_;
  std::vector<int> ports_;
  pid_t pid_ = 0;
  bool started_ = false;
};

// The path of nginx, or "" when it is not installed.
std::string NginxPath();

}  // namespace testsupport
