#include "platform/system_proxy.h"

namespace platform {

// Linux has no system-wide proxy store of its own; libcurl reads http_proxy, HTTPS_PROXY,
// ALL_PROXY and NO_PROXY, as every command-line tool there does.
std::optional<std::string> SystemProxyFor(const std::string&) { return std::nullopt; }

}  // namespace platform
