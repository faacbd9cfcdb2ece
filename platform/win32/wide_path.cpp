#include "platform/win32/wide_path.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform::win32 {
namespace {

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";
constexpr std::wstring_view kLongSharePrefix = L"\\\\?\\UNC\\";

bool StartsWith(const std::wstring& text, std::wstring_view head) { return text.compare(0, head.size(), head) == 0; }

}  // namespace

std::wstring FullPath(const std::wstring& path) {
  if (path.empty()) return {};
  // The first call asks for the size; the path may have changed meaning in between only if the
  // current directory did, so the second call's answer is checked again.
  DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  for (int attempt = 0; attempt < 2 && size > 0; ++attempt) {
    std::wstring full(size, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
    if (length == 0) return {};
    if (length < size) {
      full.resize(length);
      return full;
    }
    size = length;
  }
  return {};
}

std::wstring WidePath(const std::string& utf8Path) {
  std::wstring wide = Utf8ToWide(utf8Path);
  // Already long, or a device ("\\.\pipe\x"): the system takes these as they are.
  if (wide.empty() || StartsWith(wide, kLongPrefix) || StartsWith(wide, L"\\\\.\\")) return wide;
  // A relative path is as long as the current directory makes it, so the full form decides.
  const std::wstring full = FullPath(wide);
  if (full.size() < kShortPathLimit) return wide;
  // "\\server\share\x" becomes "\\?\UNC\server\share\x".
  if (StartsWith(full, L"\\\\")) return std::wstring(kLongSharePrefix) + full.substr(2);
  return std::wstring(kLongPrefix) + full;
}

}  // namespace platform::win32
