// Writes the argument text the launcher would hand its game (from this process's own wide
// command line) into the file named by ARGUMENT_ECHO_FILE, between brackets.
#include <cstdio>
#include <cstdlib>

#include "app/game_control.h"

int main() {
  const char* target = std::getenv("ARGUMENT_ECHO_FILE");
  if (target == nullptr) return 2;
  std::FILE* out = std::fopen(target, "wb");
  if (out == nullptr) return 3;
  std::fprintf(out, "[%s]", SystemGameControl().BuildArgumentString().c_str());
  std::fclose(out);
  return 0;
}
