// The proxy the system's settings name for a URL, handed to every transfer.
#pragma once

#include <optional>
#include <string>

namespace platform {

// "host:port" (or "scheme://host:port") of the proxy to use for `url`; empty for a direct
// connection the settings ask for; no value where the system has no settings of its own to
// apply, and the transfer library's rule (the proxy environment variables) stands.
std::optional<std::string> SystemProxyFor(const std::string& url);

}  // namespace platform
