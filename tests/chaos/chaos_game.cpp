// The game of the chaos releases. When started it checks every file its release lists in
// "manifest.txt" (its working folder is the data folder) and appends one line to
// "../chaos_game_starts.txt", in the launcher's working folder:
//   "ok <version>"                    every listed file is present with the published bytes
//   "corrupt <version> <file>"        the first file that is missing or differs
// so that the chaos suite can prove no game was ever started from a damaged or mixed package.
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "tests/chaos/content_hash.h"

namespace {

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<bool>(in) || in.eof();
}

// "ok <version>" or "corrupt <version> <file>".
std::string Verdict() {
  std::string manifest;
  if (!ReadFile("manifest.txt", &manifest)) return "corrupt ? manifest.txt";
  std::istringstream lines(manifest);
  std::string word;
  std::string version;
  if (!(lines >> word >> version) || word != "version") return "corrupt ? manifest.txt";
  std::string digest;
  std::string name;
  while (lines >> digest >> name) {
    std::string bytes;
    if (!ReadFile(name, &bytes) || chaos::HexDigest(chaos::Fnv1a(bytes)) != digest) {
      return "corrupt " + version + " " + name;
    }
  }
  return "ok " + version;
}

}  // namespace

int main() {
  std::ofstream starts("../chaos_game_starts.txt", std::ios::app);
  starts << Verdict() << "\n";
  return 0;
}
