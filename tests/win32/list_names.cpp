// Lists a folder's tree as Windows programs see it, through FindFirstFileW: one path a line in
// UTF-8, "/" between components, sorted, folders ending in "/". The test scripts compare this
// with the names a package should install, so names are checked on the Windows side of Wine.
//   list_names <folder>      the tree below the folder (long paths taken in the "\\?\" form)
//   list_names --code-page   the system's ANSI code page, to show which one a run had
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), length, nullptr, nullptr);
  return out;
}

// Independent of the launcher's own path code: always the long form of the full path.
std::wstring LongForm(const std::wstring& path) {
  const DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  std::wstring full(size, L'\0');
  full.resize(GetFullPathNameW(path.c_str(), size, full.data(), nullptr));
  return L"\\\\?\\" + full;
}

// Deeper than any test tree, so a loop of links cannot keep it going.
constexpr int kMaxDepth = 64;

void Walk(const std::wstring& folder, const std::string& prefix, int depth, std::vector<std::string>& out) {
  if (depth > kMaxDepth) return;
  WIN32_FIND_DATAW data{};
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::string path = prefix + Utf8(name);
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      out.push_back(path + "/");
      Walk(folder + L"\\" + name, path + "/", depth + 1, out);
    } else {
      out.push_back(path);
    }
  } while (FindNextFileW(search, &data));
  FindClose(search);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: list_names <folder> | --code-page\n");
    return 2;
  }
  const std::wstring argument = argv[1];
  if (argument == L"--code-page") {
    std::printf("%u\n", GetACP());
    return 0;
  }
  const std::wstring root = LongForm(argument);
  const DWORD attributes = GetFileAttributesW(root.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    std::fprintf(stderr, "not a folder: %s\n", Utf8(argument).c_str());
    return 1;
  }
  std::vector<std::string> paths;
  Walk(root, "", 0, paths);
  std::sort(paths.begin(), paths.end());
  for (const auto& path : paths) std::printf("%s\n", path.c_str());
  return 0;
}
