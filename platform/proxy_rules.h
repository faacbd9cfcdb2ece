// The rules of the system's internet settings for choosing a proxy: the proxy list (one proxy for
// every scheme, or one per scheme) and the bypass list. Portable so they are tested everywhere;
// the Windows backend reads the lists (platform/system_proxy.h).
#pragma once

#include <string>

namespace platform::proxy {

// Scheme, host (lower case, without brackets) and port of a URL; the port is the scheme's default
// when the URL names none. Empty host when the URL has none.
struct UrlTarget {
  std::string scheme;
  std::string host;
  int port = 0;
};
UrlTarget ParseUrlTarget(const std::string& url);

// The proxy a list gives for `scheme`: an entry without "name=" serves every scheme, "http=a:1"
// only its own; with none for the scheme, a "socks=" entry as "socks4://host:port". Empty when
// the list has nothing for it. Entries are separated by ";" or white space.
std::string ProxyForScheme(const std::string& list, const std::string& scheme);

// True when the target matches an entry of a bypass list: "*" stands for any run of characters,
// case is ignored, an entry with a port must match it too, "<local>" matches a host without a
// dot. Entries are separated by ";", "," or white space; a "scheme://" prefix is ignored.
bool Bypassed(const std::string& bypassList, const UrlTarget& target);

}  // namespace platform::proxy
