// Extracts one archive with the launcher's extraction, for the foreign-archive checks under
// Wine: unzip_archive <archive> <destination>. Prints the final "fail" payload and exits with 1
// after a failure, 0 after "succ".
#include <cstdio>
#include <string>

#include "package/zip_util.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: unzip_archive <archive> <destination>\n");
    return 2;
  }
  std::string failure;
  const bool ok = ZipUtil::UnzipAll(
      argv[1], argv[2], [&failure](const std::string& status, const std::string& payload, long long, long long) {
        if (status == unzip_status::kFailed) failure = payload;
      });
  if (!ok) std::printf("fail: %s\n", failure.c_str());
  return ok ? 0 : 1;
}
