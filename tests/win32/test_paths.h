// Where the Windows tests find their helper programs: next to the test executable.
#pragma once

#include <windows.h>

#include <string>

namespace win32test {

inline std::string ExecutableFolder() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length);
  const auto slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
}

inline std::string HelperProgram(const std::string& name) { return ExecutableFolder() + "\\" + name; }

}  // namespace win32test
