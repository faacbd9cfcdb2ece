#include <windows.h>

#include "platform/text_encoding.h"
#include "platform/win32/wide_text.h"

namespace platform {
namespace win32 {
namespace {

constexpr UINT kGbkCodePage = 936;
constexpr wchar_t kReplacement = 0xFFFD;

// One GBK character (one or two bytes) at `in`, or false when those bytes are not one.
bool ConvertOne(const char* in, int length, wchar_t* out) {
  return MultiByteToWideChar(kGbkCodePage, MB_ERR_INVALID_CHARS, in, length, out, 1) == 1;
}

}  // namespace

std::wstring GbkToWide(const std::string& gbk) {
  std::wstring wide;
  wide.reserve(gbk.size());
  std::size_t i = 0;
  while (i < gbk.size()) {
    const auto byte = static_cast<unsigned char>(gbk[i]);
    if (byte < 0x80) {
      wide += static_cast<wchar_t>(byte);
      ++i;
      continue;
    }
    wchar_t character = 0;
    if (IsDBCSLeadByteEx(kGbkCodePage, byte) && i + 1 < gbk.size() && ConvertOne(&gbk[i], 2, &character)) {
      wide += character;
      i += 2;
    } else if (ConvertOne(&gbk[i], 1, &character)) {
      wide += character;  // single-byte extensions of the code page (0x80 is the euro sign)
      ++i;
    } else {
      wide += kReplacement;
      ++i;
    }
  }
  return wide;
}

std::string WideToGbk(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(kGbkCodePage, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string gbk(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(kGbkCodePage, 0, wide.data(), size, gbk.data(), length, nullptr, nullptr);
  return gbk;
}

std::string WideToUtf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  if (length <= 0) return {};
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length, nullptr, nullptr);
  return utf8;
}

std::wstring Utf8ToWide(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
  return wide;
}

}  // namespace win32

std::string GbkToUtf8(const std::string& gbk) { return win32::WideToUtf8(win32::GbkToWide(gbk)); }

std::string Utf8ToGbk(const std::string& utf8) { return win32::WideToGbk(win32::Utf8ToWide(utf8)); }

}  // namespace platform
