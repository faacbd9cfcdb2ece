// One line per request answered by the content server:
//   GET /MorvanePC1/res_1_0_0.zip range=bytes=1000- 206 4000
// method, target (path and query as sent), the Range header ("-" when absent), the status and
// the body bytes handed to the network (fewer than announced when the connection was cut).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace serve {

struct RequestLogLine {
  std::string method;
  std::string target;
  std::string range;
  int status = 0;
  std::uint64_t bytes = 0;
};

std::string FormatLogLine(const RequestLogLine& line);

// Receives every line; called on the server's request threads, so it must be thread-safe.
using LogSink = std::function<void(const RequestLogLine&)>;

}  // namespace serve
