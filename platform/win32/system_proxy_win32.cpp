// The proxy of the current user's internet settings (what the system's proxy dialog sets),
// read through WinHTTP for each transfer, so a change made while the launcher runs applies to the
// next request. Policy, in the order the system itself applies it:
//   1. automatic detection or a configuration script: the script's answer for this URL; an
//      answer of DIRECT is a direct connection; when no script can be found or run, go on;
//   2. a fixed proxy: direct when the host is on the bypass list, else the list's proxy for the
//      URL's scheme;
//   3. nothing set: no value, and libcurl's own rule stands, as without this lookup.
#include <windows.h>
// After windows.h, which it needs.
#include <winhttp.h>

#include <atomic>
#include <string>

#include "platform/proxy_rules.h"
#include "platform/system_proxy.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace {

// A string WinHTTP allocated for the caller.
class GlobalText {
 public:
  GlobalText() = default;
  GlobalText(const GlobalText&) = delete;
  GlobalText& operator=(const GlobalText&) = delete;
  ~GlobalText() {
    if (text_) GlobalFree(text_);
  }
  LPWSTR* Out() { return &text_; }
  bool Empty() const { return !text_ || !*text_; }
  const wchar_t* Get() const { return text_; }

 private:
  LPWSTR text_ = nullptr;
};

class InternetHandle {
 public:
  explicit InternetHandle(HINTERNET handle) : handle_(handle) {}
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle() {
    if (handle_) WinHttpCloseHandle(handle_);
  }
  HINTERNET Get() const { return handle_; }

 private:
  HINTERNET handle_;
};

std::string Narrow(const wchar_t* wide) { return wide ? win32::WideToUtf8(wide) : std::string(); }

// Detection that found nothing is not tried again in this run: on a network without a
// configuration server each attempt costs DHCP and DNS round trips on every transfer.
std::atomic<bool> detectionFailed{false};

// The script's proxy for `url`: a value when the script answered (empty for DIRECT), none when
// there is no script to ask.
std::optional<std::string> ScriptProxy(const std::string& url, bool detect, const wchar_t* scriptUrl,
                                       const std::string& scheme) {
  if (detect && detectionFailed.load() && !scriptUrl) return std::nullopt;
  InternetHandle session(
      WinHttpOpen(L"launcher", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session.Get()) return std::nullopt;
  WINHTTP_AUTOPROXY_OPTIONS options{};
  if (scriptUrl) {
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
    options.lpszAutoConfigUrl = scriptUrl;
  } else {
    options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
    options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
  }
  options.fAutoLogonIfChallenged = TRUE;
  WINHTTP_PROXY_INFO info{};
  const std::wstring wideUrl = win32::Utf8ToWide(url);
  const BOOL found = WinHttpGetProxyForUrl(session.Get(), wideUrl.c_str(), &options, &info);
  GlobalText proxy, bypass;
  *proxy.Out() = info.lpszProxy;
  *bypass.Out() = info.lpszProxyBypass;
  if (!found) {
    if (!scriptUrl && GetLastError() == ERROR_WINHTTP_AUTODETECTION_FAILED) detectionFailed.store(true);
    return std::nullopt;
  }
  if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || proxy.Empty()) return std::string();
  return proxy::ProxyForScheme(Narrow(proxy.Get()), scheme);
}

}  // namespace

std::optional<std::string> SystemProxyFor(const std::string& url) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG settings{};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&settings)) return std::nullopt;
  GlobalText scriptUrl, fixed, bypass;
  *scriptUrl.Out() = settings.lpszAutoConfigUrl;
  *fixed.Out() = settings.lpszProxy;
  *bypass.Out() = settings.lpszProxyBypass;
  const proxy::UrlTarget target = proxy::ParseUrlTarget(url);

  if (!scriptUrl.Empty() || settings.fAutoDetect) {
    const auto answer =
        ScriptProxy(url, settings.fAutoDetect != FALSE, scriptUrl.Empty() ? nullptr : scriptUrl.Get(), target.scheme);
    if (answer) return answer;
  }
  if (fixed.Empty()) return std::nullopt;
  if (proxy::Bypassed(Narrow(bypass.Get()), target)) return std::string();
  const std::string chosen = proxy::ProxyForScheme(Narrow(fixed.Get()), target.scheme);
  if (chosen.empty()) return std::string();  // a list for other schemes only: this one goes direct
  return chosen;
}

}  // namespace platform
