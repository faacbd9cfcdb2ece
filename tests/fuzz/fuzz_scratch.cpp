#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

#include "tests/fuzz/fuzz_entries.h"

namespace fuzz {
namespace {

std::filesystem::path MakeScratch() {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  auto path = std::filesystem::temp_directory_path() /
              ("launcher-fuzz-" + std::to_string(::getpid()) + "-" + std::to_string(stamp));
  std::filesystem::create_directories(path);
  std::filesystem::current_path(path);
  return path;
}

void RemoveScratch() {
  std::error_code ignored;
  std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
  std::filesystem::remove_all(ScratchFolder(), ignored);
}

}  // namespace

const std::filesystem::path& ScratchFolder() {
  static const std::filesystem::path folder = [] {
    auto path = MakeScratch();
    std::atexit(RemoveScratch);
    return path;
  }();
  return folder;
}

void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz property broken: %s\n", what);
  std::fflush(stderr);
  std::abort();
}

}  // namespace fuzz
