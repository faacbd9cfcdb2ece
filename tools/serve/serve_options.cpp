#include "tools/serve/serve_options.h"

#include <charconv>

namespace serve {

const char* const kServeUsage =
    "usage: launcher-serve [--port <n>] [--port-file <file>] [--cut-once <path>:<bytes>] <folder>\n"
    "\n"
    "Serves the files below <folder> over HTTP on 127.0.0.1, with byte ranges, for trying a\n"
    "release locally (a studio's players get it from its own web server or CDN). Prints\n"
    "\"listening on http://127.0.0.1:<port>/\" and then one line per request: method, path,\n"
    "Range header, status, body bytes sent. Ends on Ctrl+C or SIGTERM.\n"
    "\n"
    "  --port <n>                 the port to listen on; 0 (the default) lets the system choose\n"
    "  --port-file <file>         also write the port number into <file>\n"
    "  --cut-once <path>:<bytes>  drop the connection of the first answer for <path> after <bytes>\n"
    "                             body bytes, to watch the launcher resume (path as requested,\n"
    "                             for example /MorvanePC1/res_1_0_0.zip)\n"
    "  --help                     this text\n";

namespace {

ParsedServeCommandLine Refuse(const std::string& why) {
  ParsedServeCommandLine parsed;
  parsed.error = why;
  return parsed;
}

template <typename Number>
bool ParseNumber(const std::string& text, Number& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

}  // namespace

ParsedServeCommandLine ParseServeCommandLine(const std::vector<std::string>& arguments) {
  ServeOptions options;
  std::vector<std::string> positional;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& arg = arguments[i];
    if (arg == "--help" || arg == "-h") {
      ParsedServeCommandLine parsed;
      parsed.helpRequested = true;
      return parsed;
    }
    const bool takesValue = arg == "--port" || arg == "--port-file" || arg == "--cut-once";
    if (takesValue) {
      if (i + 1 >= arguments.size()) return Refuse(arg + " needs a value");
      const std::string& value = arguments[++i];
      if (arg == "--port") {
        if (!ParseNumber(value, options.port) || options.port < 0 || options.port > 65535) {
          return Refuse("not a port number: " + value);
        }
      } else if (arg == "--port-file") {
        options.portFile = value;
      } else {
        const auto colon = value.rfind(':');
        if (colon == std::string::npos || colon == 0 || !ParseNumber(value.substr(colon + 1), options.cutBytes)) {
          return Refuse("--cut-once wants <path>:<bytes>, got " + value);
        }
        const std::string path = value.substr(0, colon);
        options.cutPath = path.front() == '/' ? path : std::string(1, '/') + path;
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Refuse("unknown option " + arg);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 1) return Refuse("expected one folder to serve");
  options.folder = positional[0];
  ParsedServeCommandLine parsed;
  parsed.options = std::move(options);
  return parsed;
}

}  // namespace serve
