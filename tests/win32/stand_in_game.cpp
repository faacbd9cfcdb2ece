// The game the Windows tests install and start: it records where it runs and with what, so the
// tests can check the launcher's command line and working folder. A GUI program, so starting
// it never opens a console.
//
// STAND_IN_GAME_STAY_MS in the environment keeps it running that long (a game still open).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  char folder[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, folder);
  // Binary: one "\n" a line, whatever the system.
  if (std::FILE* runs = std::fopen("stand_in_game_runs.txt", "ab")) {
    std::fprintf(runs, "cwd=%s\n", folder);
    std::fprintf(runs, "line=%s\n", GetCommandLineA());
    for (int i = 1; i < argc; ++i) std::fprintf(runs, "arg=%s\n", argv[i]);
    std::fprintf(runs, "end\n");
    std::fclose(runs);
  }
  if (const char* stay = std::getenv("STAND_IN_GAME_STAY_MS")) Sleep(static_cast<DWORD>(std::atol(stay)));
  return 0;
}
