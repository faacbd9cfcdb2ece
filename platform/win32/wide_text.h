// Conversions between the launcher's narrow texts and the wide strings the W functions take.
#pragma once

#include <string>

namespace platform::win32 {

// GBK (code page 936) to UTF-16, whatever the system's ANSI code page is. A byte that does not
// start a valid GBK character becomes U+FFFD.
std::wstring GbkToWide(const std::string& gbk);
// UTF-16 to GBK (code page 936), the launcher's text encoding; characters it lacks become "?".
std::string WideToGbk(const std::wstring& wide);
// UTF-16 to UTF-8 and back; invalid sequences become U+FFFD.
std::string WideToUtf8(const std::wstring& wide);
std::wstring Utf8ToWide(const std::string& utf8);

}  // namespace platform::win32
