// Extraction speed against the unzip tool on one generated package.
//
//   unzip_bench [--files N] [--megabytes M] [--runs R] [--folder DIR]
//
// Builds a package of N files (half compressible text, half random bytes) totalling about
// M MiB, then extracts it R times with ZipUtil::UnzipAll by one worker, by two workers side by
// side, and with "unzip -o -q", in turn, each run into a fresh folder and in a fresh process so
// that its peak memory is its own. Prints the median times, their ratios (target: at most 1.0)
// and each side's peak memory.
#include <minizip/zip.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_stats.h"
#include "package/zip_util.h"

namespace {

struct Options {
  int files = 2000;
  long long megabytes = 1024;
  int runs = 3;
  std::filesystem::path folder = std::filesystem::temp_directory_path() / "launcher-unzip-bench";
};

struct Run {
  double seconds = 0;
  long peakKib = 0;
  bool ok = false;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    if (flag == "--files") options.files = std::max(1, std::atoi(argv[i + 1]));
    if (flag == "--megabytes") options.megabytes = std::max(1LL, std::atoll(argv[i + 1]));
    if (flag == "--runs") options.runs = std::max(1, std::atoi(argv[i + 1]));
    if (flag == "--folder") options.folder = argv[i + 1];
  }
  return options;
}

// Text a game's configuration and scripts might hold: compresses about four to one.
void FillCompressible(std::string& data, std::size_t bytes, std::mt19937& random) {
  static const char* const kWords[] = {"texture", "mesh", "sound", "level", "actor",    "= ",     "true", "false",
                                       "0.125",   "\n",   "{",     "}",     "material", "shader", "  "};
  data.clear();
  std::uniform_int_distribution<int> pick(0, 14);
  while (data.size() < bytes) data += kWords[pick(random)];
  data.resize(bytes);
}

void FillRandom(std::string& data, std::mt19937& random) {
  for (auto& byte : data) byte = static_cast<char>(random() & 0xff);
}

bool BuildPackage(const Options& options, const std::filesystem::path& archive) {
  zipFile zip = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
  if (zip == nullptr) return false;
  std::mt19937 random(20240601);
  const std::size_t fileBytes = static_cast<std::size_t>(options.megabytes * 1024 * 1024 / options.files);
  std::string data;
  bool ok = true;
  for (int i = 0; i < options.files && ok; ++i) {
    const bool compressible = i % 2 == 0;
    if (compressible) {
      FillCompressible(data, fileBytes, random);
    } else {
      data.resize(fileBytes);
      FillRandom(data, random);
    }
    const std::string name = "assets/pack" + std::to_string(i % 20) + "/file" + std::to_string(i) + ".dat";
    zip_fileinfo info{};
    ok = zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                               compressible ? Z_DEFAULT_COMPRESSION : 1, 1) == ZIP_OK &&
         zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size())) == ZIP_OK &&
         zipCloseFileInZip(zip) == ZIP_OK;
  }
  return zipClose(zip, nullptr) == ZIP_OK && ok;
}

// Runs the command in a child process; wall time and the child's peak resident memory.
Run Measure(const std::vector<std::string>& command) {
  std::vector<char*> arguments;
  for (const auto& argument : command) arguments.push_back(const_cast<char*>(argument.c_str()));
  arguments.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  std::fflush(stdout);  // the child must not print the parent's buffered lines again
  const pid_t child = fork();
  if (child == 0) {
    std::freopen("/dev/null", "w", stdout);
    execvp(arguments[0], arguments.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(child, &status, 0, &usage);
  Run run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peakKib = usage.ru_maxrss;
  run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

long MaxPeak(const std::vector<Run>& runs) {
  long peak = 0;
  for (const auto& run : runs) peak = std::max(peak, run.peakKib);
  return peak;
}

std::vector<double> Seconds(const std::vector<Run>& runs) {
  std::vector<double> seconds;
  for (const auto& run : runs) seconds.push_back(run.seconds);
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  // The child side: one extraction in a process of its own.
  if (argc == 5 && std::string(argv[1]) == "--extract") {
    const auto workers = static_cast<unsigned>(std::max(1, std::atoi(argv[4])));
    return ZipUtil::UnzipAll(argv[2], argv[3], {}, workers) ? 0 : 1;
  }

  const Options options = ParseOptions(argc, argv);
  std::filesystem::remove_all(options.folder);
  std::filesystem::create_directories(options.folder);
  const auto archive = options.folder / "package.zip";
  std::printf("building %d files, %lld MiB ...\n", options.files, options.megabytes);
  std::fflush(stdout);
  if (!BuildPackage(options, archive)) {
    std::printf("cannot build the package\n");
    return 1;
  }
  std::printf("package: %.1f MiB compressed\n", static_cast<double>(std::filesystem::file_size(archive)) / 1048576);

  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  std::vector<Run> ours;
  std::vector<Run> both;
  std::vector<Run> reference;
  for (int i = 0; i < options.runs; ++i) {
    const auto target = options.folder / "out";
    std::filesystem::remove_all(target);
    ours.push_back(Measure({self, "--extract", archive.string(), target.string(), "1"}));
    std::filesystem::remove_all(target);
    both.push_back(Measure({self, "--extract", archive.string(), target.string(), "2"}));
    std::filesystem::remove_all(target);
    reference.push_back(Measure({"unzip", "-o", "-q", archive.string(), "-d", target.string()}));
    std::filesystem::remove_all(target);
    if (!ours.back().ok || !both.back().ok || !reference.back().ok) {
      std::printf("an extraction failed (ZipUtil %s, ZipUtil x2 %s, unzip %s)\n", ours.back().ok ? "ok" : "failed",
                  both.back().ok ? "ok" : "failed", reference.back().ok ? "ok" : "failed");
      return 1;
    }
    std::printf("run %d: ZipUtil %.3f s, ZipUtil x2 %.3f s, unzip %.3f s\n", i + 1, ours.back().seconds,
                both.back().seconds, reference.back().seconds);
  }
  const double oursMedian = Median(Seconds(ours));
  const double bothMedian = Median(Seconds(both));
  const double referenceMedian = Median(Seconds(reference));
  std::printf("median: ZipUtil %.3f s, ZipUtil x2 %.3f s, unzip %.3f s\n", oursMedian, bothMedian, referenceMedian);
  std::printf("ratio ZipUtil/unzip: %.3f, ZipUtil x2/unzip: %.3f (target <= 1.0); x2/x1: %.3f\n",
              oursMedian / referenceMedian, bothMedian / referenceMedian, bothMedian / oursMedian);
  std::printf("peak memory: ZipUtil %.1f MiB, ZipUtil x2 %.1f MiB, unzip %.1f MiB\n", MaxPeak(ours) / 1024.0,
              MaxPeak(both) / 1024.0, MaxPeak(reference) / 1024.0);
  std::filesystem::remove_all(options.folder);
  return 0;
}
