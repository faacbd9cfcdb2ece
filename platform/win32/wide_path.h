// Paths for the wide (W) file functions. The launcher's paths are UTF-8 on every system; on
// Windows each call widens them here, so no name depends on the system's ANSI code page.
#pragma once

#include <string>

namespace platform::win32 {

// Paths this long or longer take the long form: CreateDirectoryW's limit (MAX_PATH less room
// for an 8.3 file name) is the lowest of the functions the backend calls.
inline constexpr std::size_t kShortPathLimit = 248;

// The UTF-8 path widened for a W function. When its absolute form would reach
// kShortPathLimit, that form normalised and prefixed "\\?\" (a share "\\?\UNC\"), which
// the system takes up to 32,767 characters; otherwise the path as given. Invalid UTF-8
// becomes U+FFFD; empty for an empty path.
std::wstring WidePath(const std::string& utf8Path);

// The absolute, normalised form of a wide path (GetFullPathNameW); empty when it has none.
std::wstring FullPath(const std::wstring& path);

}  // namespace platform::win32
