// The chaos suite: many runs of the real launcher against a local content server, each run
// bringing the working folder to a new release while faults are injected at random points:
//   closed    the server drops the archive connection after a random number of body bytes
//   stalled   the server stops sending for 1.5 s (the download must survive it) or for 6.5 s
//             (the launcher abandons the transfer below 1 byte/s for 5 s and asks to retry)
//   killed    the launcher gets SIGKILL while the archive transfer is stalled at a random byte,
//             after the k-th file was unpacked into the staging folder, after the k-th file
//             of the commit was moved into the data folder, or at a random moment
// Dialogs are answered Retry or Cancel at random; after a Cancel or a kill the launcher is
// started again. Every run must end with the game started, reporting the exact published tree
// (the chaos game checks every file against its manifest before anything else), and the data
// folder must then hold the published build file for file.
//
//   launcher_chaos [--runs N] [--seed S] [--verbose]     (or CHAOS_RUNS, CHAOS_SEED)
// Exit code 0 when every run passed.
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/settings.h"
#include "package/staging.h"
#include "tests/chaos/chaos_release.h"
#include "tests/chaos/chaos_server.h"
#include "tests/chaos/extraction_watch.h"
#include "tests/chaos/launcher_process.h"
#include "tests/chaos/tree_check.h"
#include "tests/support/content_server.h"
#include "tests/support/scratch_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::ContentServer;
using testsupport::Fault;

constexpr int kMaxStartsPerRun = 10;
constexpr int kLauncherDeadlineMs = 120000;

enum class FaultKind {
  kClose,
  kStallShort,
  kStallAbort,
  kKillInDownload,
  kKillInExtraction,
  kKillInCommit,
  kKillEarly,
};
constexpr int kFaultKinds = 7;

// Kills that wait for a file of the install rather than for the server.
bool KillsDuringInstall(FaultKind kind) {
  return kind == FaultKind::kKillInExtraction || kind == FaultKind::kKillInCommit || kind == FaultKind::kKillEarly;
}

const char* NameOf(FaultKind kind) {
  switch (kind) {
    case FaultKind::kClose:
      return "connection closed";
    case FaultKind::kStallShort:
      return "short stall";
    case FaultKind::kStallAbort:
      return "long stall";
    case FaultKind::kKillInDownload:
      return "killed in download";
    case FaultKind::kKillInExtraction:
      return "killed in extraction";
    case FaultKind::kKillInCommit:
      return "killed in commit";
    case FaultKind::kKillEarly:
      return "killed at random";
  }
  return "?";
}

struct Figures {
  int runs = 0;
  int passed = 0;
  int faultsInjected = 0;
  int faultsByKind[kFaultKinds] = {};
  int launcherStarts = 0;
  int gameStarts = 0;
  int installsVerified = 0;
  int corruptInstalls = 0;
  int crashes = 0;
  int hangs = 0;
  int unexpectedDialogs = 0;
  int notConverged = 0;
  int writesOutside = 0;
  std::uint64_t bytesDownloaded = 0;
  std::uint64_t packageBytes = 0;  // one whole archive per run: the least a run can fetch
};

struct Options {
  int runs = 10;
  unsigned seed = 0;
  bool verbose = false;
};

Options ParseOptions(int argc, char** argv) {
  Options options;
  if (const char* runs = std::getenv("CHAOS_RUNS")) options.runs = std::atoi(runs);
  options.seed = static_cast<unsigned>(std::chrono::system_clock::now().time_since_epoch().count());
  if (const char* seed = std::getenv("CHAOS_SEED"))
    options.seed = static_cast<unsigned>(std::strtoul(seed, nullptr, 10));
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "--runs" && i + 1 < argc) options.runs = std::atoi(argv[++i]);
    if (argument == "--seed" && i + 1 < argc)
      options.seed = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
    if (argument == "--verbose") options.verbose = true;
  }
  return options;
}

std::uint64_t FileSize(const std::filesystem::path& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class ChaosSuite {
 public:
  ChaosSuite(const Options& options, std::filesystem::path root)
      : options_(options),
        random_(options.seed),
        root_(std::move(root)),
        serverOwner_(chaos::ListenOnChaosPort(std::chrono::minutes(10))),
        server_(*serverOwner_) {}

  void Prepare() {
    const std::vector<std::string> versions = {"1.0.1", "1.0.2", "1.0.3"};
    for (std::size_t i = 0; i < versions.size(); ++i) {
      std::vector<std::string> others;
      for (const auto& other : versions) {
        if (other != versions[i]) others.push_back(other);
      }
      releases_.push_back(chaos::MakeRelease(root_ / "releases", versions[i], CHAOS_GAME, options_.seed + 17 * i + 1,
                                             chaos::ReleaseShape{}, others));
    }
  }

  Figures Run() {
    for (int run = 0; run < options_.runs; ++run) RunOnce(run);
    return figures_;
  }

 private:
  std::filesystem::path Sandbox() const { return root_ / "sandbox"; }
  std::filesystem::path Work() const { return Sandbox() / "work"; }
  std::filesystem::path StartsFile() const { return Work() / "chaos_game_starts.txt"; }

  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }

  std::deque<FaultKind> PlanFaults() {
    std::deque<FaultKind> plan;
    const int count = Uniform(0, 3);
    for (int i = 0; i < count; ++i) {
      const int pick = Uniform(0, 99);
      // Long stalls cost five seconds each; keep them rare.
      if (pick < 28)
        plan.push_back(FaultKind::kClose);
      else if (pick < 40)
        plan.push_back(FaultKind::kStallShort);
      else if (pick < 46)
        plan.push_back(FaultKind::kStallAbort);
      else if (pick < 70)
        plan.push_back(FaultKind::kKillInDownload);
      else if (pick < 81)
        plan.push_back(FaultKind::kKillInExtraction);
      else if (pick < 92)
        plan.push_back(FaultKind::kKillInCommit);
      else
        plan.push_back(FaultKind::kKillEarly);
    }
    return plan;
  }

  void Log(const std::string& text) {
    if (options_.verbose) std::printf("  %s\n", text.c_str());
  }

  void RunOnce(int run) {
    const chaos::Release& release = releases_[static_cast<std::size_t>(run) % releases_.size()];
    if (run == 0 || Chance(0.25)) {
      std::filesystem::remove_all(Sandbox());
      Log("fresh working folder");
    }
    std::filesystem::create_directories(Work());
    const auto before = chaos::ListTree(Sandbox());
    server_.ServeFolder(release.serverFolder);
    server_.ResetCounters();
    std::deque<FaultKind> plan = PlanFaults();
    ++figures_.runs;
    if (options_.verbose)
      std::printf("run %d: release %s, %zu fault(s) planned\n", run + 1, release.version.c_str(), plan.size());

    bool installed = false;
    bool failed = false;
    for (int start = 0; start < kMaxStartsPerRun && !installed && !failed; ++start) {
      const std::size_t gameLinesBefore = ReadLines(StartsFile()).size();
      const bool clean = RunLauncher(release, &plan);
      // A launcher killed just after it started the game: the game may still be checking its
      // files, and its line must be counted with this start, not the next.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      failed = !clean;
      const auto lines = ReadLines(StartsFile());
      for (std::size_t i = gameLinesBefore; i < lines.size(); ++i) {
        ++figures_.gameStarts;
        Log("game: " + lines[i]);
        if (lines[i] != "ok " + release.version) {
          ++figures_.corruptInstalls;
          failed = true;
          std::printf("run %d: game started from a damaged or mixed package: %s\n", run + 1, lines[i].c_str());
          std::printf("the launcher's last output:\n%s\n", lastOutput_.c_str());
          continue;
        }
        installed = true;
      }
    }
    server_.ClearFault(release.zipName);
    figures_.bytesDownloaded += server_.BytesSent(release.zipName);
    figures_.packageBytes += release.zipBytes;

    if (installed) {
      const auto differences = chaos::TreeDifferences(release.buildFolder, Work() / settings::dataFolder);
      if (differences.empty()) {
        ++figures_.installsVerified;
      } else {
        ++figures_.corruptInstalls;
        failed = true;
        std::printf("run %d: data folder differs from release %s: %s (and %zu more)\n", run + 1,
                    release.version.c_str(), differences.front().c_str(), differences.size() - 1);
      }
    } else if (!failed) {
      ++figures_.notConverged;
      failed = true;
      std::printf("run %d: no game started after %d launcher starts\n", run + 1, kMaxStartsPerRun);
    }
    const auto outside = chaos::NewPathsOutside(Sandbox(), Work(), before);
    if (!outside.empty()) {
      ++figures_.writesOutside;
      failed = true;
      std::printf("run %d: written outside the working folder: %s\n", run + 1, outside.front().c_str());
    }
    if (!failed) ++figures_.passed;
  }

  void Inject(FaultKind kind) {
    ++figures_.faultsInjected;
    ++figures_.faultsByKind[static_cast<int>(kind)];
    Log(std::string("fault: ") + NameOf(kind));
  }

  // Arms a fault of the server for the next archive request, at a random byte of what is left.
  void ArmServerFault(const chaos::Release& release, FaultKind kind) {
    const std::uint64_t partial = FileSize(Work() / release.zipName);
    const std::uint64_t left = release.zipBytes > partial + 2 ? release.zipBytes - partial : release.zipBytes;
    const auto cut = static_cast<std::uint64_t>(Uniform(1, static_cast<int>(left - 1)));
    switch (kind) {
      case FaultKind::kClose:
        server_.SetFault(release.zipName, Fault::CloseAfter(cut));
        break;
      case FaultKind::kStallShort:
        server_.SetFault(release.zipName, Fault::StallAfter(cut, std::chrono::milliseconds(1500)));
        break;
      case FaultKind::kStallAbort:
        server_.SetFault(release.zipName, Fault::StallAfter(cut, std::chrono::milliseconds(6500)));
        break;
      case FaultKind::kKillInDownload:
        server_.SetFault(release.zipName, Fault::StallAfter(cut, std::chrono::seconds(30)));
        break;
      default:
        break;
    }
  }

  // A launcher that runs alone: one that met another suite's launcher is started again.
  std::unique_ptr<chaos::LauncherProcess> StartWhenAlone() {
    for (int attempt = 0;; ++attempt) {
      auto launcher = std::make_unique<chaos::LauncherProcess>(CHAOS_LAUNCHER, Work());
      // Leaving at once takes a few milliseconds; a real run takes far longer than this.
      if (launcher->WaitExit(300) && chaos::MetAnotherLauncher(*launcher) && attempt < 600) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        continue;
      }
      return launcher;
    }
  }

  // One launcher process until it ends. False when it crashed, hung or showed a box that no
  // fault explains.
  bool RunLauncher(const chaos::Release& release, std::deque<FaultKind>* plan) {
    ++figures_.launcherStarts;
    std::set<std::string> smallFiles(release.smallFileNames.begin(), release.smallFileNames.end());
    chaos::ExtractionWatch staged(smallFiles, chaos::ExtractionWatch::Arrival::kCreated);
    chaos::ExtractionWatch committed(smallFiles, chaos::ExtractionWatch::Arrival::kMovedIn);
    std::unique_ptr<chaos::LauncherProcess> process = StartWhenAlone();
    chaos::LauncherProcess& launcher = *process;
    const auto started = Clock::now();
    const int requestsAtStart = server_.RequestCount(release.zipName);

    bool armed = false;          // the fault at the front of the plan is armed
    bool consumed = false;       // its request reached the server
    int killAfterFiles = 0;      // extraction kill: after this many files
    int killAfterMs = 0;         // early kill: this long after the start
    std::uint64_t lastSize = 0;  // stall kill: the partial archive's size, and since when
    auto sizeSince = Clock::now();
    bool killedByUs = false;
    std::size_t promptsSeen = 0;
    int requestsSeen = requestsAtStart;

    while (!launcher.Pump(10)) {
      if (Clock::now() - started > std::chrono::milliseconds(kLauncherDeadlineMs)) {
        ++figures_.hangs;
        std::printf("launcher hung; its last output:\n%s\n", launcher.Errors().c_str());
        return false;
      }
      if (!armed && !plan->empty()) {
        armed = true;
        consumed = false;
        const FaultKind kind = plan->front();
        if (kind == FaultKind::kKillInExtraction || kind == FaultKind::kKillInCommit)
          killAfterFiles = Uniform(1, static_cast<int>(smallFiles.size()));
        else if (kind == FaultKind::kKillEarly)
          killAfterMs = Uniform(50, 3000);
        else
          ArmServerFault(release, kind);
        requestsSeen = server_.RequestCount(release.zipName);
      }
      if (armed) {
        const FaultKind kind = plan->front();
        const int requests = server_.RequestCount(release.zipName);
        if (kind == FaultKind::kKillInExtraction || kind == FaultKind::kKillInCommit) {
          chaos::ExtractionWatch& watch = kind == FaultKind::kKillInExtraction ? staged : committed;
          const auto data = Work() / settings::dataFolder;
          watch.Attach(kind == FaultKind::kKillInExtraction ? data / kStagingFolderName : data);
          if (watch.Poll() >= killAfterFiles) {
            launcher.Kill(SIGKILL);
            killedByUs = true;
            Inject(kind);
            plan->pop_front();
            armed = false;
          }
        } else if (kind == FaultKind::kKillEarly) {
          if (Clock::now() - started > std::chrono::milliseconds(killAfterMs)) {
            launcher.Kill(SIGKILL);
            killedByUs = true;
            Inject(kind);
            plan->pop_front();
            armed = false;
          }
        } else if (!consumed && requests > requestsSeen) {
          // The request took its copy of the fault; the next one must find the server healthy.
          consumed = true;
          server_.ClearFault(release.zipName);
          Inject(kind);
          lastSize = FileSize(Work() / release.zipName);
          sizeSince = Clock::now();
          if (kind != FaultKind::kKillInDownload) {
            plan->pop_front();
            armed = false;
          }
        } else if (consumed && kind == FaultKind::kKillInDownload) {
          const std::uint64_t size = FileSize(Work() / release.zipName);
          if (size != lastSize) {
            lastSize = size;
            sizeSince = Clock::now();
          } else if (Clock::now() - sizeSince > std::chrono::milliseconds(300)) {
            launcher.Kill(SIGKILL);
            killedByUs = true;
            plan->pop_front();
            armed = false;
          }
        }
      }
      while (promptsSeen < launcher.Prompts().size()) {
        const chaos::Prompt& prompt = launcher.Prompts()[promptsSeen++];
        Log("dialog: " + prompt.text);
        if (!prompt.retryCancel) {
          ++figures_.unexpectedDialogs;
          std::printf("unexpected OK box: %s\n", prompt.text.c_str());
          launcher.Answer("");
          continue;
        }
        launcher.Answer(Chance(0.7) ? "r" : "c");
      }
    }
    // A fault armed on the server but never requested must not leak into the next start.
    if (armed && !consumed && !KillsDuringInstall(plan->front())) {
      server_.ClearFault(release.zipName);
    }
    if (armed && KillsDuringInstall(plan->front())) {
      plan->pop_front();  // the launcher got past the point where it would have been killed
    }
    lastOutput_ = launcher.Output();
    if (options_.verbose) {
      std::printf(
          "  launcher ended (code %d, signal %d) after %lld ms%s\n", launcher.ExitCode(), launcher.TermSignal(),
          static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count()),
          killedByUs ? ", killed" : "");
      if (std::getenv("CHAOS_SHOW_OUTPUT"))
        std::printf("%s\n%s\n", launcher.Output().c_str(), launcher.Errors().c_str());
    }
    if (!chaos::EndedCleanly(launcher, killedByUs)) {
      ++figures_.crashes;
      std::printf("launcher ended with code %d, signal %d; its last output:\n%s\n", launcher.ExitCode(),
                  launcher.TermSignal(), launcher.Errors().c_str());
      return false;
    }
    return true;
  }

  Options options_;
  std::mt19937 random_;
  std::filesystem::path root_;
  std::unique_ptr<ContentServer> serverOwner_;
  ContentServer& server_;
  std::vector<chaos::Release> releases_;
  Figures figures_;
  std::string lastOutput_;  // standard output of the last launcher, for the report of a failure
};

double Megabytes(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

int main(int argc, char** argv) {
  const Options options = ParseOptions(argc, argv);
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  testsupport::ScratchDir scratch("launcher-chaos");
  std::printf("chaos: %d runs, seed %u (CHAOS_SEED=%u reproduces them)\n", options.runs, options.seed, options.seed);
  ChaosSuite suite(options, scratch.Path());
  suite.Prepare();
  const Figures f = suite.Run();

  std::printf("chaos: runs %d, passed %d\n", f.runs, f.passed);
  std::printf("chaos: faults injected %d (", f.faultsInjected);
  for (int kind = 0; kind < kFaultKinds; ++kind) {
    std::printf("%s%s %d", kind == 0 ? "" : ", ", NameOf(static_cast<FaultKind>(kind)), f.faultsByKind[kind]);
  }
  std::printf(")\n");
  std::printf("chaos: launcher starts %d, game starts %d\n", f.launcherStarts, f.gameStarts);
  std::printf("chaos: installs verified %d, corrupt installs %d\n", f.installsVerified, f.corruptInstalls);
  std::printf("chaos: crashes %d, hangs %d, unexpected dialogs %d, runs without a game %d, writes outside %d\n",
              f.crashes, f.hangs, f.unexpectedDialogs, f.notConverged, f.writesOutside);
  std::printf("chaos: archive bytes downloaded %.2f MB for %d packages of %.2f MB in total (%.3f times the least)\n",
              Megabytes(f.bytesDownloaded), f.runs, Megabytes(f.packageBytes),
              f.packageBytes == 0 ? 0.0 : static_cast<double>(f.bytesDownloaded) / static_cast<double>(f.packageBytes));
  const bool ok = f.passed == f.runs && f.corruptInstalls == 0 && f.crashes == 0 && f.hangs == 0 &&
                  f.unexpectedDialogs == 0 && f.writesOutside == 0;
  std::printf("chaos: %s\n", ok ? "PASSED" : "FAILED");
  return ok ? 0 : 1;
}
