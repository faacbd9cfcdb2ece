#include "tests/package/unzip_sandbox.h"

#include <unistd.h>

#include <atomic>

#include "package/zip_util.h"
#include "tests/package/zip_builder.h"

void PrintTo(const UnzipCall& call, std::ostream* out) {
  *out << "(" << call.status << ", \"" << call.payload << "\", " << call.done << ", " << call.total << ")";
}

void UnzipSandbox::SetUp() {
  static std::atomic<int> counter{0};
  root_ = std::filesystem::temp_directory_path() /
          ("launcher-zip-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
  std::filesystem::remove_all(root_);
  std::filesystem::create_directories(root_);
}

void UnzipSandbox::TearDown() {
  std::error_code ignored;
  // Entries written read-only must not keep their folder from being removed.
  for (auto it = std::filesystem::recursive_directory_iterator(root_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::add,
                                   ignored);
    }
  }
  std::filesystem::remove_all(root_, ignored);
}

UnzipCallback UnzipSandbox::Recorder() {
  return [this](const std::string& status, const std::string& payload, long long done, long long total) {
    calls_.push_back({status, payload, done, total});
  };
}

bool UnzipSandbox::Unzip() { return UnzipInto(destination().string()); }

bool UnzipSandbox::UnzipInto(const std::string& destinationFolder) {
  calls_.clear();
  return ZipUtil::UnzipAll(UnzipTask{archive().string(), destinationFolder, Recorder()});
}

namespace {

// Paths in the tests are UTF-8, as the launcher's are; a narrow std::filesystem path would be
// read in the ANSI code page on Windows.
std::filesystem::path FromUtf8(const std::string& text) { return std::u8string(text.begin(), text.end()); }

std::string ToUtf8(const std::filesystem::path& path) {
  const std::u8string text = path.generic_u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

std::set<std::string> UnzipSandbox::Tree() const {
  std::set<std::string> paths;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(root_)) {
    paths.insert(ToUtf8(std::filesystem::relative(entry.path(), root_)));
  }
  return paths;
}

std::string UnzipSandbox::Read(const std::string& relative) const { return ReadBytes(root_ / FromUtf8(relative)); }
