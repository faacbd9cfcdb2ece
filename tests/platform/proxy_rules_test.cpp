// Choosing a proxy by the rules of the system's internet settings.
#include "platform/proxy_rules.h"

#include <gtest/gtest.h>

namespace {

using platform::proxy::Bypassed;
using platform::proxy::ParseUrlTarget;
using platform::proxy::ProxyForScheme;

TEST(ProxyRules, UrlTargetHasLowerCaseHostAndTheSchemesDefaultPort) {
  const auto plain = ParseUrlTarget("HTTP://CDN.Example.com/game/config.json");
  EXPECT_EQ(plain.scheme, "http");
  EXPECT_EQ(plain.host, "cdn.example.com");
  EXPECT_EQ(plain.port, 80);
  const auto secure = ParseUrlTarget("https://user:pw@cdn.example.com:8443?x=1");
  EXPECT_EQ(secure.host, "cdn.example.com");
  EXPECT_EQ(secure.port, 8443);
  EXPECT_EQ(ParseUrlTarget("https://cdn.example.com").port, 443);
  const auto v6 = ParseUrlTarget("http://[::1]:38517/x");
  EXPECT_EQ(v6.host, "::1");
  EXPECT_EQ(v6.port, 38517);
  EXPECT_TRUE(ParseUrlTarget("no scheme here").host.empty());
}

TEST(ProxyRules, ListGivesTheSchemesOwnEntryOrTheOneForAll) {
  EXPECT_EQ(ProxyForScheme("proxy.office:3128", "https"), "proxy.office:3128");
  const std::string perScheme = "ftp=f:21; http=h:8080;https=s:8443";
  EXPECT_EQ(ProxyForScheme(perScheme, "http"), "h:8080");
  EXPECT_EQ(ProxyForScheme(perScheme, "https"), "s:8443");
  EXPECT_EQ(ProxyForScheme("HTTP=h:1", "http"), "h:1");
  EXPECT_EQ(ProxyForScheme("ftp=f:21", "http"), "");
  EXPECT_EQ(ProxyForScheme("socks=s:1080", "https"), "socks4://s:1080");
  EXPECT_EQ(ProxyForScheme("socks=s:1080;http=h:1", "http"), "h:1");
  EXPECT_EQ(ProxyForScheme("http=", "http"), "");
  EXPECT_EQ(ProxyForScheme("", "http"), "");
}

TEST(ProxyRules, BypassMatchesWildcardsPortsAndLocalNames) {
  const auto cdn = ParseUrlTarget("http://cdn.example.com:38517/x");
  EXPECT_TRUE(Bypassed("*.example.com", cdn));
  EXPECT_TRUE(Bypassed("other.net; CDN.EXAMPLE.COM", cdn));
  EXPECT_TRUE(Bypassed("http://cdn.example.com", cdn));
  EXPECT_TRUE(Bypassed("cdn.example.com:38517", cdn));
  EXPECT_FALSE(Bypassed("cdn.example.com:80", cdn));
  EXPECT_FALSE(Bypassed("example.com", cdn));
  EXPECT_FALSE(Bypassed("*.example.org,*.net", cdn));
  EXPECT_TRUE(Bypassed("127.*", ParseUrlTarget("http://127.0.0.1:38517/")));
  EXPECT_FALSE(Bypassed("127.*", ParseUrlTarget("http://10.0.0.1/")));
  EXPECT_TRUE(Bypassed("<local>", ParseUrlTarget("http://fileserver/")));
  EXPECT_FALSE(Bypassed("<local>", cdn));
  EXPECT_TRUE(Bypassed("::1", ParseUrlTarget("http://[::1]:38517/")));
  EXPECT_FALSE(Bypassed("", cdn));
  // Backtracking over many stars stays linear enough to answer at once.
  EXPECT_FALSE(Bypassed("*a*a*a*a*a*a*a*a*a*b", ParseUrlTarget("http://" + std::string(200, 'a') + "/")));
}

}  // namespace
