// Package archives as a broken or hostile server may deliver them (after the digest check,
// which a hostile publisher passes with ease).
#include <fstream>
#include <string>
#include <system_error>

#include "package/zip_util.h"
#include "tests/fuzz/fuzz_entries.h"

namespace fuzz {

int ZipArchive(const std::uint8_t* data, std::size_t size) {
  const std::filesystem::path root = ScratchFolder() / "zip";
  const std::filesystem::path archive = root / "in.zip";
  const std::filesystem::path destination = root / "out";
  std::error_code ignored;
  std::filesystem::remove_all(root, ignored);
  std::filesystem::create_directories(root);
  {
    std::ofstream out(archive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  int finals = 0;
  std::string lastStatus;
  const bool succeeded =
      ZipUtil::UnzipAll(archive.string(), destination.string(),
                        [&](const std::string& status, const std::string&, long long done, long long total) {
                          Require(finals == 0, "nothing is reported after the final call");
                          if (status == unzip_status::kSucceeded || status == unzip_status::kFailed) ++finals;
                          if (status == unzip_status::kEntryDone)
                            Require(done >= 1 && done <= total, "entry progress within the total");
                          lastStatus = status;
                        });
  Require(finals == 1, "exactly one final call");
  Require(succeeded == (lastStatus == unzip_status::kSucceeded), "the result agrees with the final call");

  for (const auto& entry : std::filesystem::directory_iterator(root)) {
    const auto name = entry.path().filename();
    Require(name == "in.zip" || name == "out", "nothing is written beside the destination");
  }
  for (auto it = std::filesystem::recursive_directory_iterator(destination, ignored);
       !ignored && it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    Require(!it->is_symlink(), "no symbolic link is created");
  }
  return 0;
}

}  // namespace fuzz
