#include "tools/serve/request_log.h"

namespace serve {

std::string FormatLogLine(const RequestLogLine& line) {
  return line.method + " " + line.target + " range=" + (line.range.empty() ? "-" : line.range) + " " +
         std::to_string(line.status) + " " + std::to_string(line.bytes);
}

}  // namespace serve
