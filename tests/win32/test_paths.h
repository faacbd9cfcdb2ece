// Where the Windows tests find their helper programs: next to the test executable. Paths are
// UTF-8, as the launcher's are.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace win32test {

inline std::string ExecutableFolder() {
  std::vector<wchar_t> path(32768);
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  const int size = WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string folder(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(length), folder.data(), size, nullptr, nullptr);
  const auto slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

inline std::string HelperProgram(const std::string& name) { return ExecutableFolder() + "\\" + name; }

}  // namespace win32test
