// The game of the chaos releases. When started it checks every file its release lists in
// "manifest.txt" (its working folder is the data folder) and appends one line to
// "../chaos_game_starts.txt", in the launcher's working folder:
//   "ok <version>"                    every listed file is present with the published bytes
//   "corrupt <version> <file>"        the first file that is missing or differs
//   "extra <version> <file>"          a file the release does not have (one another release
//                                     left, or one half installed), besides the launcher's own
// so that the chaos suite can prove no game was ever started from a damaged or mixed package.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <system_error>

#include "tests/chaos/content_hash.h"
#include "tests/chaos/own_files.h"

namespace {

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return static_cast<bool>(in) || in.eof();
}

// The first file below the working folder that is neither listed nor the launcher's own.
std::string FirstExtraFile(const std::set<std::string>& listed) {
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(".", error), end; !error && it != end; it.increment(error)) {
    if (it->is_directory(error)) continue;
    const std::string path = std::filesystem::relative(it->path(), ".", error).generic_string();
    if (listed.count(path) == 0 && !chaos::LaunchersOwnFile(path)) return path;
  }
  return error ? "(the data folder cannot be listed)" : "";
}

// "ok <version>", "corrupt <version> <file>" or "extra <version> <file>".
std::string Verdict() {
  std::string manifest;
  if (!ReadFile("manifest.txt", &manifest)) return "corrupt ? manifest.txt";
  std::istringstream lines(manifest);
  std::string word;
  std::string version;
  if (!(lines >> word >> version) || word != "version") return "corrupt ? manifest.txt";
  std::string digest;
  std::string name;
  std::set<std::string> listed = {"manifest.txt"};
  while (lines >> digest >> name) {
    std::string bytes;
    if (!ReadFile(name, &bytes) || chaos::HexDigest(chaos::Fnv1a(bytes)) != digest) {
      return "corrupt " + version + " " + name;
    }
    listed.insert(name);
  }
  const std::string extra = FirstExtraFile(listed);
  return extra.empty() ? "ok " + version : "extra " + version + " " + extra;
}

}  // namespace

int main() {
  std::ofstream starts("../chaos_game_starts.txt", std::ios::app);
  starts << Verdict() << "\n";
  return 0;
}
