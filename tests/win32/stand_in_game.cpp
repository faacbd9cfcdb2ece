// The game the Windows tests install and start: it records where it runs and with what, so the
// tests can check the launcher's command line and working folder. A GUI program, so starting
// it never opens a console. Everything is read wide and written as UTF-8, so a folder or an
// argument outside the system's code page is recorded as it is.
//
// STAND_IN_GAME_STAY_MS in the environment keeps it running that long (a game still open).
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string Utf8(const wchar_t* wide) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, out.data(), length, nullptr, nullptr);
  out.pop_back();  // the terminating NUL
  return out;
}

}  // namespace

int main() {
  std::vector<wchar_t> folder(GetCurrentDirectoryW(0, nullptr) + 1);
  GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  // Binary: one "\n" a line, whatever the system.
  if (std::FILE* runs = _wfopen(L"stand_in_game_runs.txt", L"ab")) {
    std::fprintf(runs, "cwd=%s\n", Utf8(folder.data()).c_str());
    std::fprintf(runs, "line=%s\n", Utf8(GetCommandLineW()).c_str());
    for (int i = 1; i < argc; ++i) std::fprintf(runs, "arg=%s\n", Utf8(argv[i]).c_str());
    std::fprintf(runs, "end\n");
    std::fclose(runs);
  }
  LocalFree(argv);
  if (const char* stay = std::getenv("STAND_IN_GAME_STAY_MS")) Sleep(static_cast<DWORD>(std::atol(stay)));
  return 0;
}
