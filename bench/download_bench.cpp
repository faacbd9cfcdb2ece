// Archive download speed and memory against the curl command-line tool, both fetching the same
// file from the in-process content server on 127.0.0.1.
//
//   download_bench [--megabytes M] [--runs R]      (defaults: 1024 MiB, 3 runs)
//
// Each run starts a fresh process for each side (this program in its client role, and curl), so
// the peak resident memory of the download alone can be read from the finished process. Prints
// the median times, their ratio (launcher / curl), "trans" callbacks per MiB, and the peak memory
// of the launcher's download at the full size and at an eighth of it: it must not grow with the
// file.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_stats.h"
#include "net/http_util.h"
#include "tests/support/content_server.h"
#include "tests/support/scratch_dir.h"

extern char** environ;

namespace {

struct ChildResult {
  double seconds = 0;
  long peakKib = 0;
  int exitCode = -1;
};

// Runs a program to its end with standard output and error discarded.
ChildResult RunQuietly(const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const auto started = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int spawned = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + arguments[0]);
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  ChildResult result;
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  result.peakKib = usage.ru_maxrss;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// The client role: one HttpUtil::Download, its "trans" count written to `countFile`.
int RunClient(const std::string& url, const std::string& localPath, const std::string& countFile) {
  long long progressCalls = 0;
  bool succeeded = false;
  DownloadTask task;
  task.localPath = localPath;
  task.url = url;
  task.callback = [&](const std::string& status, const std::string&, double, double) {
    if (status == "trans") ++progressCalls;
    if (status == "succ") succeeded = true;
  };
  HttpUtil::Download(task);
  std::ofstream(countFile) << progressCalls;
  return succeeded ? 0 : 1;
}

void WriteTestFile(const std::string& path, std::uint64_t bytes) {
  std::vector<char> block(1 << 20);
  unsigned state = 12345;
  for (auto& byte : block) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::uint64_t written = 0; written < bytes; written += block.size()) {
    block[0] = static_cast<char>(written >> 20);  // no two blocks alike
    out.write(block.data(), static_cast<std::streamsize>(std::min<std::uint64_t>(block.size(), bytes - written)));
  }
}

long long ReadCount(const std::string& path) {
  long long count = -1;
  std::ifstream(path) >> count;
  return count;
}

struct Side {
  std::vector<double> seconds;
  long peakKib = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--client") == 0) return RunClient(argv[2], argv[3], argv[4]);

  std::uint64_t megabytes = 1024;
  int runs = 3;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--megabytes") == 0) megabytes = std::strtoull(argv[i + 1], nullptr, 10);
    if (std::strcmp(argv[i], "--runs") == 0) runs = std::max(1, std::atoi(argv[i + 1]));
  }
  const std::uint64_t bytes = megabytes << 20;
  const std::string self = std::filesystem::canonical("/proc/self/exe").string();

  testsupport::ScratchDir scratch("download-bench");
  std::printf("writing %llu MiB test files...\n", static_cast<unsigned long long>(megabytes));
  WriteTestFile(scratch.File("full.bin"), bytes);
  WriteTestFile(scratch.File("eighth.bin"), bytes / 8);
  testsupport::ContentServer server;
  server.ServeFolder(scratch.Path());

  const std::string ours = scratch.File("ours.bin");
  const std::string theirs = scratch.File("curl.bin");
  const std::string countFile = scratch.File("count.txt");
  Side launcher;
  Side curl;
  long long progressCalls = 0;
  for (int run = 0; run < runs; ++run) {
    // Alternate which side goes first, so neither always meets a warmer page cache.
    for (int turn = 0; turn < 2; ++turn) {
      const bool launcherTurn = (run + turn) % 2 == 0;
      ChildResult result;
      if (launcherTurn) {
        result = RunQuietly({self, "--client", server.Url("full.bin"), ours, countFile});
        progressCalls = ReadCount(countFile);
      } else {
        result = RunQuietly({"curl", "-s", "-o", theirs, server.Url("full.bin")});
      }
      const std::string& output = launcherTurn ? ours : theirs;
      if (result.exitCode != 0 || std::filesystem::file_size(output) != bytes) {
        std::fprintf(stderr, "%s download failed (exit %d)\n", launcherTurn ? "launcher" : "curl", result.exitCode);
        return 1;
      }
      Side& side = launcherTurn ? launcher : curl;
      side.seconds.push_back(result.seconds);
      side.peakKib = std::max(side.peakKib, result.peakKib);
      std::filesystem::remove(output);
    }
  }
  const ChildResult small = RunQuietly({self, "--client", server.Url("eighth.bin"), ours, countFile});
  if (small.exitCode != 0) return 1;

  const double launcherMedian = Median(launcher.seconds);
  const double curlMedian = Median(curl.seconds);
  const double mib = static_cast<double>(bytes) / (1 << 20);
  std::printf("file: %llu MiB, runs: %d\n", static_cast<unsigned long long>(megabytes), runs);
  std::printf("launcher median: %.3f s (%.0f MiB/s)\n", launcherMedian, mib / launcherMedian);
  std::printf("curl     median: %.3f s (%.0f MiB/s)\n", curlMedian, mib / curlMedian);
  std::printf("ratio launcher/curl: %.3f (target <= 1.05)\n", launcherMedian / curlMedian);
  std::printf("trans callbacks: %lld (%.1f per MiB)\n", progressCalls, static_cast<double>(progressCalls) / mib);
  std::printf("peak resident memory: launcher %ld KiB (%ld KiB at 1/8 size), curl %ld KiB\n", launcher.peakKib,
              small.peakKib, curl.peakKib);
  return 0;
}
