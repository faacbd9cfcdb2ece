#include "platform/proxy_rules.h"

#include <cctype>
#include <vector>

namespace platform::proxy {
namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<std::string> Entries(const std::string& list, const std::string& separators) {
  std::vector<std::string> entries;
  std::string entry;
  for (const char c : list) {
    if (separators.find(c) != std::string::npos || std::isspace(static_cast<unsigned char>(c))) {
      if (!entry.empty()) entries.push_back(entry);
      entry.clear();
    } else {
      entry += c;
    }
  }
  if (!entry.empty()) entries.push_back(entry);
  return entries;
}

// Glob match with "*" only, both sides already lower case. Iterative, so no input can recurse deep.
bool WildcardMatch(const std::string& pattern, const std::string& text) {
  std::size_t p = 0, t = 0, star = std::string::npos, resume = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = t;
    } else if (p < pattern.size() && pattern[p] == text[t]) {
      ++p;
      ++t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

int DefaultPort(const std::string& scheme) { return scheme == "https" ? 443 : 80; }

}  // namespace

UrlTarget ParseUrlTarget(const std::string& url) {
  UrlTarget target;
  const auto schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos) return target;
  target.scheme = Lower(url.substr(0, schemeEnd));
  std::string authority = url.substr(schemeEnd + 3);
  authority = authority.substr(0, authority.find_first_of("/?#"));
  authority = authority.substr(authority.find('@') == std::string::npos ? 0 : authority.find('@') + 1);
  std::string port;
  if (!authority.empty() && authority[0] == '[') {
    const auto close = authority.find(']');
    if (close == std::string::npos) return {};
    target.host = authority.substr(1, close - 1);
    if (close + 1 < authority.size() && authority[close + 1] == ':') port = authority.substr(close + 2);
  } else {
    const auto colon = authority.find(':');
    target.host = authority.substr(0, colon);
    if (colon != std::string::npos) port = authority.substr(colon + 1);
  }
  target.host = Lower(target.host);
  target.port = DefaultPort(target.scheme);
  if (!port.empty() && port.size() <= 5 && port.find_first_not_of("0123456789") == std::string::npos) {
    target.port = std::stoi(port);
  }
  return target;
}

std::string ProxyForScheme(const std::string& list, const std::string& scheme) {
  std::string any, socks;
  for (const std::string& entry : Entries(list, ";")) {
    const auto equals = entry.find('=');
    if (equals == std::string::npos) {
      if (any.empty()) any = entry;
      continue;
    }
    const std::string name = Lower(entry.substr(0, equals));
    const std::string proxy = entry.substr(equals + 1);
    if (proxy.empty()) continue;
    if (name == scheme) return proxy;
    if (name == "socks" && socks.empty()) socks = "socks4://" + proxy;
  }
  return any.empty() ? socks : any;
}

bool Bypassed(const std::string& bypassList, const UrlTarget& target) {
  if (target.host.empty()) return false;
  const std::string hostPort = target.host + ":" + std::to_string(target.port);
  for (std::string entry : Entries(bypassList, ";,")) {
    entry = Lower(entry);
    if (entry == "<local>") {
      if (target.host.find('.') == std::string::npos && target.host.find(':') == std::string::npos) return true;
      continue;
    }
    const auto schemeEnd = entry.find("://");
    if (schemeEnd != std::string::npos) entry = entry.substr(schemeEnd + 3);
    // An entry ending in ":<digits>" names a port; anything else (an IPv6 address) is a host.
    const auto colon = entry.rfind(':');
    const bool withPort = colon != std::string::npos && colon + 1 < entry.size() &&
                          entry.find_first_not_of("0123456789*", colon + 1) == std::string::npos &&
                          entry.find(':') == colon;
    if (WildcardMatch(entry, withPort ? hostPort : target.host)) return true;
  }
  return false;
}

}  // namespace platform::proxy
