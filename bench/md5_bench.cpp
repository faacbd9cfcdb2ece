// Archive digest speed against md5sum on one generated file.
//
//   md5_bench [--megabytes M] [--runs R]
//
// Writes M MiB of random bytes, then digests the file R times with FileUtil::Md5 and with
// "md5sum", alternating, each in a fresh process so that its peak memory is its own.
// Prints the median times, their ratio (target: at most 1.1) and each side's peak memory,
// which must stay flat whatever the file's size.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_stats.h"
#include "package/file_util.h"

namespace {

struct Run {
  double seconds = 0;
  long peakKib = 0;
  std::string digest;
};

// Runs `work` in a child process; its digest comes back through a pipe.
template <typename Work>
Run Measure(Work work) {
  int channel[2];
  if (pipe(channel) != 0) return {};
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = fork();
  if (child == 0) {
    close(channel[0]);
    const std::string digest = work();
    if (write(channel[1], digest.data(), digest.size()) < 0) _exit(2);
    _exit(0);
  }
  close(channel[1]);
  char buffer[64] = {};
  const ssize_t got = read(channel[0], buffer, sizeof buffer - 1);
  close(channel[0]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Run run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakKib = usage.ru_maxrss;
  if (got > 0) run.digest.assign(buffer, static_cast<std::size_t>(std::min<ssize_t>(got, 32)));
  return run;
}

std::string Md5sum(const std::string& path) {
  std::FILE* out = popen(("exec md5sum '" + path + "'").c_str(), "r");
  char digest[33] = {};
  if (out == nullptr || std::fread(digest, 1, 32, out) != 32) digest[0] = '\0';
  if (out != nullptr) pclose(out);
  return digest;
}

}  // namespace

int main(int argc, char** argv) {
  long long megabytes = 512;
  int runs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--megabytes") megabytes = std::max(1LL, std::atoll(argv[i + 1]));
    if (flag == "--runs") runs = std::max(1, std::atoi(argv[i + 1]));
  }
  const auto path = std::filesystem::temp_directory_path() / "launcher-md5-bench.bin";
  {
    std::ofstream out(path, std::ios::binary);
    std::mt19937_64 random(7);
    std::vector<std::uint64_t> block(1 << 17);
    for (long long written = 0; written < megabytes * 1024 * 1024; written += block.size() * 8) {
      for (auto& word : block) word = random();
      out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
    }
  }
  std::vector<double> ours, theirs;
  long oursPeak = 0, theirsPeak = 0;
  bool agree = true;
  for (int i = 0; i < runs; ++i) {
    // stdout of the digest's diagnostic line is not part of the measurement.
    const Run a = Measure([&] {
      std::freopen("/dev/null", "w", stdout);
      return FileUtil::Md5(path.string());
    });
    const Run b = Measure([&] { return Md5sum(path.string()); });
    agree = agree && !a.digest.empty() && a.digest == b.digest;
    ours.push_back(a.seconds);
    theirs.push_back(b.seconds);
    oursPeak = std::max(oursPeak, a.peakKib);
    theirsPeak = std::max(theirsPeak, b.peakKib);
  }
  std::filesystem::remove(path);
  std::printf("file: %lld MiB, %d runs, digests %s\n", megabytes, runs, agree ? "agree" : "DIFFER");
  std::printf("FileUtil::Md5  median %.3f s  peak %ld KiB\n", Median(ours), oursPeak);
  std::printf("md5sum         median %.3f s  peak %ld KiB (includes the forking bench process)\n", Median(theirs),
              theirsPeak);
  std::printf("ratio (launcher / md5sum): %.3f\n", Median(ours) / Median(theirs));
  return agree ? 0 : 1;
}
