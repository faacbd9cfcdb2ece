// Archive digest speed against md5sum and sha256sum on one generated file.
//
//   md5_bench [--megabytes M] [--runs R]
//
// Writes M MiB of random bytes, then digests the file R times with FileUtil::Md5 and with
// "md5sum", alternating, each in a fresh process so that its peak memory is its own; then the
// same for the archive's SHA-256 (the system's SHA-256 stream the download feeds) against
// "sha256sum". Prints the median times, their ratios (target: at most 1.1) and each side's peak
// memory, which must stay flat whatever the file's size.
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
#include "platform/hash_stream.h"

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
  char buffer[80] = {};
  const ssize_t got = read(channel[0], buffer, sizeof buffer - 1);
  close(channel[0]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Run run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakKib = usage.ru_maxrss;
  if (got > 0) run.digest.assign(buffer, static_cast<std::size_t>(std::min<ssize_t>(got, 64)));
  return run;
}

// The first `length` characters `tool` prints for the file: its digest.
std::string ToolDigest(const char* tool, const std::string& path, std::size_t length) {
  std::FILE* out = popen(("exec " + std::string(tool) + " '" + path + "'").c_str(), "r");
  std::string digest(length, '\0');
  if (out == nullptr || std::fread(digest.data(), 1, length, out) != length) digest.clear();
  if (out != nullptr) pclose(out);
  return digest;
}

// The file through the SHA-256 stream, in the blocks the download's catch-up reads.
std::string Sha256OfFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  platform::HashStream stream(platform::HashKind::Sha256);
  std::vector<char> block(1024 * 1024);
  while (in) {
    in.read(block.data(), static_cast<std::streamsize>(block.size()));
    stream.Update(block.data(), static_cast<std::size_t>(in.gcount()));
  }
  return stream.Finish();
}

struct Side {
  std::vector<double> seconds;
  long peakKib = 0;
  void Add(const Run& run) {
    seconds.push_back(run.seconds);
    peakKib = std::max(peakKib, run.peakKib);
  }
};

// Alternates the two sides `runs` times; false when a digest is missing or they differ.
template <typename Ours, typename Theirs>
bool Compare(int runs, Side& ours, Side& theirs, Ours oursWork, Theirs theirsWork) {
  bool agree = true;
  for (int i = 0; i < runs; ++i) {
    const Run a = Measure(oursWork);
    const Run b = Measure(theirsWork);
    agree = agree && !a.digest.empty() && a.digest == b.digest;
    ours.Add(a);
    theirs.Add(b);
  }
  return agree;
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
  Side md5Ours, md5Tool, shaOurs, shaTool;
  // stdout of the digest's diagnostic line is not part of the measurement.
  const bool md5Agree = Compare(
      runs, md5Ours, md5Tool,
      [&] {
        std::freopen("/dev/null", "w", stdout);
        return FileUtil::Md5(path.string());
      },
      [&] { return ToolDigest("md5sum", path.string(), 32); });
  const bool shaAgree = Compare(
      runs, shaOurs, shaTool, [&] { return Sha256OfFile(path.string()); },
      [&] { return ToolDigest("sha256sum", path.string(), 64); });
  std::filesystem::remove(path);
  const double perGiB = 1024.0 / static_cast<double>(megabytes);
  std::printf("file: %lld MiB, %d runs, MD5 digests %s, SHA-256 digests %s\n", megabytes, runs,
              md5Agree ? "agree" : "DIFFER", shaAgree ? "agree" : "DIFFER");
  std::printf("FileUtil::Md5  median %.3f s  peak %ld KiB\n", Median(md5Ours.seconds), md5Ours.peakKib);
  std::printf("md5sum         median %.3f s  peak %ld KiB (includes the forking bench process)\n",
              Median(md5Tool.seconds), md5Tool.peakKib);
  std::printf("ratio (launcher / md5sum): %.3f\n", Median(md5Ours.seconds) / Median(md5Tool.seconds));
  std::printf("SHA-256 stream median %.3f s (%.2f s per GiB)  peak %ld KiB\n", Median(shaOurs.seconds),
              Median(shaOurs.seconds) * perGiB, shaOurs.peakKib);
  std::printf("sha256sum      median %.3f s (%.2f s per GiB)  peak %ld KiB\n", Median(shaTool.seconds),
              Median(shaTool.seconds) * perGiB, shaTool.peakKib);
  std::printf("ratio (launcher / sha256sum): %.3f\n", Median(shaOurs.seconds) / Median(shaTool.seconds));
  return md5Agree && shaAgree ? 0 : 1;
}
