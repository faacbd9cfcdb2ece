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
// (the chaos game checks every file against its manifest before anything else, and that no
// other file is there), and the data folder must then hold the published build file for file.
//
// Besides, for every three of those runs, one update by files: a fresh working folder gets a
// release whole, then a release that changes a few of its files, drops some and adds others is
// served, and the launcher is killed while the archive's end or a range is stalled at a random
// byte, after the k-th file staged, committed or dropped, or at a random moment, until a run
// completes. A game may only ever start on one release exactly, never on a mix, and the data
// folder must end as the new release with nothing of the old one left.
//
//   launcher_chaos [--runs N] [--seed S] [--verbose]     (or CHAOS_RUNS, CHAOS_SEED)
// Exit code 0 when every run passed.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
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
  kKillInRange,    // updates by files: a range (or the archive's end) stalled at a random byte
  kKillInRemoval,  // updates by files: after the k-th dropped file went (the removals take
                   // microseconds: the kill often lands after the last, or after the game's start)
};
constexpr int kFaultKinds = 9;

// Kills that wait for a file of the install rather than for the server.
bool KillsDuringInstall(FaultKind kind) {
  return kind == FaultKind::kKillInExtraction || kind == FaultKind::kKillInCommit || kind == FaultKind::kKillEarly ||
         kind == FaultKind::kKillInRemoval;
}

// Kills that watch files of the install arrive or go.
bool WatchesFiles(FaultKind kind) {
  return kind == FaultKind::kKillInExtraction || kind == FaultKind::kKillInCommit || kind == FaultKind::kKillInRemoval;
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
    case FaultKind::kKillInRange:
      return "killed in a range";
    case FaultKind::kKillInRemoval:
      return "killed removing dropped files";
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
  // Updates by files.
  int fileRuns = 0;
  int filePassed = 0;
  int fileByRanges = 0;      // runs whose update asked for ranges of the new archive
  int fileEndedByFiles = 0;  // runs whose last launcher committed files
  int fileEndedWhole = 0;    // runs whose last launcher installed the whole archive (after a kill in a commit)
  int startsOnOld = 0;       // game starts on the old release, exactly
  std::uint64_t fileBytes = 0;
  std::uint64_t fileArchiveBytes = 0;
};

// Updates by files: one for every three of the other runs.
int FileLevelRunsFor(int runs) { return (runs + 2) / 3; }

// The files whose arrival or removal a kill waits for.
struct Watched {
  std::set<std::string> installed;  // staged and then committed
  std::set<std::string> dropped;    // removed by the commit
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

  // One sandbox for the runs that carry a working folder from release to release, one for the
  // updates by files, which start afresh each.
  void UseSandbox(const char* name) { sandbox_ = root_ / name; }

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
    pair_ = chaos::MakeReleasePair(root_ / "releases", "1.1.0", "1.1.1", CHAOS_GAME, options_.seed + 101);
    pairWatched_.installed = {pair_.changedNames.begin(), pair_.changedNames.end()};
    pairWatched_.dropped = {pair_.droppedNames.begin(), pair_.droppedNames.end()};
  }

  Figures Run() {
    UseSandbox("sandbox");
    for (int run = 0; run < options_.runs; ++run) RunOnce(run);
    UseSandbox("files-sandbox");
    for (int run = 0; run < FileLevelRunsFor(options_.runs); ++run) RunByFiles(run);
    return figures_;
  }

 private:
  std::filesystem::path Sandbox() const { return sandbox_; }
  std::filesystem::path Work() const { return Sandbox() / "work"; }
  std::filesystem::path StartsFile() const { return Work() / "chaos_game_starts.txt"; }

  int Uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }
  bool Chance(double p) { return std::uniform_real_distribution<double>(0, 1)(random_) < p; }

  // `count` faults, each drawn from 0-99: the first kind whose bound lies above the draw.
  std::deque<FaultKind> Plan(int count, std::initializer_list<std::pair<int, FaultKind>> bounds) {
    std::deque<FaultKind> plan;
    for (int i = 0; i < count; ++i) {
      const int pick = Uniform(0, 99);
      for (const auto& [bound, kind] : bounds) {
        if (pick < bound) {
          plan.push_back(kind);
          break;
        }
      }
    }
    return plan;
  }

  std::deque<FaultKind> PlanFaults() {
    // Long stalls cost five seconds each; keep them rare.
    return Plan(Uniform(0, 3), {{28, FaultKind::kClose},
                                {40, FaultKind::kStallShort},
                                {46, FaultKind::kStallAbort},
                                {70, FaultKind::kKillInDownload},
                                {81, FaultKind::kKillInExtraction},
                                {92, FaultKind::kKillInCommit},
                                {100, FaultKind::kKillEarly}});
  }

  // Updates by files: kills only, each at a point of the update by files or of the whole
  // archive that follows a kill in its commit.
  std::deque<FaultKind> PlanFileLevelFaults() {
    return Plan(Uniform(1, 3), {{20, FaultKind::kKillEarly},
                                {45, FaultKind::kKillInRange},
                                {65, FaultKind::kKillInExtraction},
                                {85, FaultKind::kKillInCommit},
                                {100, FaultKind::kKillInRemoval}});
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
    const Watched watched{{release.smallFileNames.begin(), release.smallFileNames.end()}, {}};
    for (int start = 0; start < kMaxStartsPerRun && !installed && !failed; ++start) {
      const std::size_t gameLinesBefore = ReadLines(StartsFile()).size();
      const bool clean = RunLauncher(release, watched, &plan);
      failed = !clean;
      const auto lines = GameLinesWhenGamesEnded();
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

    failed = CheckEnd("run", run, release, installed, failed, before);
    if (!failed) ++figures_.passed;
  }

  // The game's lines once every game started from the data folder has ended (five seconds at
  // most): a launcher killed just after it started the game leaves one still checking its files.
  std::vector<std::string> GameLinesWhenGamesEnded() {
    chaos::WaitForProcessesFrom(Work() / settings::dataFolder, 5000);
    return ReadLines(StartsFile());
  }

  // One update by files (see the top of the file).
  void RunByFiles(int run) {
    const chaos::Release& from = pair_.from;
    const chaos::Release& to = pair_.to;
    ++figures_.fileRuns;
    std::filesystem::remove_all(Sandbox());
    std::filesystem::create_directories(Work());
    const auto before = chaos::ListTree(Sandbox());
    if (options_.verbose)
      std::printf("update by files %d: %s to %s\n", run + 1, from.version.c_str(), to.version.c_str());

    server_.ServeFolder(from.serverFolder);
    std::deque<FaultKind> none;
    const bool first = RunLauncher(from, pairWatched_, &none);
    const auto firstLines = GameLinesWhenGamesEnded();
    std::size_t seen = firstLines.size();
    if (!first || firstLines != std::vector<std::string>{"ok " + from.version}) {
      ++figures_.corruptInstalls;
      std::printf("update by files %d: release %s did not install whole first (%zu game starts)\n", run + 1,
                  from.version.c_str(), firstLines.size());
      return;
    }

    server_.ServeFolder(to.serverFolder);
    server_.ResetCounters();
    std::deque<FaultKind> plan = PlanFileLevelFaults();
    if (options_.verbose) {
      std::string kinds;
      for (const FaultKind kind : plan) kinds += std::string(kinds.empty() ? "" : ", ") + NameOf(kind);
      std::printf("  planned: %s\n", kinds.c_str());
    }
    bool installed = false;
    bool failed = false;
    for (int start = 0; start < kMaxStartsPerRun && !installed && !failed; ++start) {
      failed = !RunLauncher(to, pairWatched_, &plan);
      const auto lines = GameLinesWhenGamesEnded();
      for (; seen < lines.size(); ++seen) {
        ++figures_.gameStarts;
        Log("game: " + lines[seen]);
        if (lines[seen] == "ok " + to.version) {
          installed = true;
        } else if (lines[seen] == "ok " + from.version) {
          ++figures_.startsOnOld;  // the old release exactly: allowed, though no update should give it
        } else {
          ++figures_.corruptInstalls;
          failed = true;
          std::printf("update by files %d: game started from a damaged or mixed tree: %s\n", run + 1,
                      lines[seen].c_str());
          std::printf("the launcher's last output:\n%s\n", lastOutput_.c_str());
        }
      }
    }
    server_.ClearFault(to.zipName);
    figures_.fileBytes += server_.BytesSent(to.zipName);
    figures_.fileArchiveBytes += to.zipBytes;

    // The run says nothing about updates by files unless one was asked for: a range of the new
    // archive that stops before its end (a whole-archive download asks for none, or "N-").
    bool byRanges = false;
    for (const auto& entry : server_.LogFor(to.zipName)) {
      if (!entry.range.empty() && entry.range.back() != '-') byRanges = true;
    }
    if (byRanges) {
      ++figures_.fileByRanges;
    } else {
      failed = true;
      std::printf("update by files %d: no range of %s was asked for\n", run + 1, to.zipName.c_str());
    }
    if (lastOutput_.find("file-level update staged") != std::string::npos) ++figures_.fileEndedByFiles;
    if (lastOutput_.find("download " + to.zipName) != std::string::npos) ++figures_.fileEndedWhole;

    failed = CheckEnd("update by files", run, to, installed, failed, before);
    if (!failed) ++figures_.filePassed;
  }

  void Inject(FaultKind kind) {
    ++figures_.faultsInjected;
    ++figures_.faultsByKind[static_cast<int>(kind)];
    Log(std::string("fault: ") + NameOf(kind));
  }

  // Requests for the whole archive (no range, or an open one) so far: the requests a fault armed
  // by ArmServerFault meets.
  int WholeRequests(const chaos::Release& release) const {
    int count = 0;
    for (const auto& entry : server_.LogFor(release.zipName)) {
      if (entry.range.empty() || entry.range.back() == '-') ++count;
    }
    return count;
  }

  // Arms a fault of the server for the next request of the whole archive (not for the ranges an
  // update by files reads before it finds the whole archive cheaper), at a random byte of what is
  // left.
  void ArmServerFault(const chaos::Release& release, FaultKind kind) {
    const std::uint64_t partial = FileSize(Work() / release.zipName);
    const std::uint64_t left = release.zipBytes > partial + 2 ? release.zipBytes - partial : release.zipBytes;
    const auto cut = static_cast<std::uint64_t>(Uniform(1, static_cast<int>(left - 1)));
    Fault fault;
    switch (kind) {
      case FaultKind::kClose:
        fault = Fault::CloseAfter(cut);
        break;
      case FaultKind::kStallShort:
        fault = Fault::StallAfter(cut, std::chrono::milliseconds(1500));
        break;
      case FaultKind::kStallAbort:
        fault = Fault::StallAfter(cut, std::chrono::milliseconds(6500));
        break;
      case FaultKind::kKillInDownload:
        fault = Fault::StallAfter(cut, std::chrono::seconds(30));
        break;
      default:
        return;
    }
    fault.wholeOnly = true;
    server_.SetFault(release.zipName, fault);
  }

  // Arms a stall for one request of an update by files: the archive's end (the first request) or
  // one of the first ranges, at a byte inside the smallest of them (one small file). Returns the
  // requests let through before it.
  int ArmRangeFault(const chaos::Release& release) {
    Fault fault = Fault::StallAfter(static_cast<std::uint64_t>(Uniform(1, 2047)), std::chrono::seconds(30));
    fault.healthyFirst = Uniform(0, 6);
    server_.SetFault(release.zipName, fault);
    return fault.healthyFirst;
  }

  // The requests the fault of `kind` counts: those of the whole archive, or every one for a range kill.
  int RequestsFor(const chaos::Release& release, FaultKind kind) const {
    return kind == FaultKind::kKillInRange ? server_.RequestCount(release.zipName) : WholeRequests(release);
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

  // How a run ended: the data folder exactly the release when a game started (nothing missing,
  // changed or extra), a game started at all, nothing written outside the working folder
  // (`before`: the sandbox's tree before the run). Returns `failed`, or true with a line naming
  // each fault found.
  bool CheckEnd(const char* label, int run, const chaos::Release& release, bool installed, bool failed,
                const std::set<std::string>& before) {
    if (installed) {
      auto differences = chaos::TreeDifferences(release.buildFolder, Work() / settings::dataFolder);
      const auto extra = chaos::ExtraFiles(release.buildFolder, Work() / settings::dataFolder);
      differences.insert(differences.end(), extra.begin(), extra.end());
      if (differences.empty()) {
        ++figures_.installsVerified;
      } else {
        ++figures_.corruptInstalls;
        failed = true;
        std::printf("%s %d: data folder differs from release %s: %s (and %zu more)\n", label, run + 1,
                    release.version.c_str(), differences.front().c_str(), differences.size() - 1);
      }
    } else if (!failed) {
      ++figures_.notConverged;
      failed = true;
      std::printf("%s %d: no game started after %d launcher starts\n", label, run + 1, kMaxStartsPerRun);
    }
    const auto outside = chaos::NewPathsOutside(Sandbox(), Work(), before);
    if (!outside.empty()) {
      ++figures_.writesOutside;
      failed = true;
      std::printf("%s %d: written outside the working folder: %s\n", label, run + 1, outside.front().c_str());
    }
    return failed;
  }

  // One launcher process until it ends. False when it crashed, hung or showed a box that no
  // fault explains.
  bool RunLauncher(const chaos::Release& release, const Watched& watched, std::deque<FaultKind>* plan) {
    ++figures_.launcherStarts;
    chaos::ExtractionWatch staged(watched.installed, chaos::ExtractionWatch::Arrival::kCreated);
    chaos::ExtractionWatch committed(watched.installed, chaos::ExtractionWatch::Arrival::kMovedIn);
    chaos::ExtractionWatch removed(watched.dropped, chaos::ExtractionWatch::Arrival::kDeleted);
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
    int healthyFirst = 0;  // range kill: requests let through before the stalled one

    while (!launcher.Pump(10)) {
      if (Clock::now() - started > std::chrono::milliseconds(kLauncherDeadlineMs)) {
        ++figures_.hangs;
        std::printf("launcher hung; its last output:\n%s\n", launcher.Errors().c_str());
        return false;
      }
      // A launcher killed a moment ago is ending: the next fault waits for the next start, where
      // it can still meet its point, instead of being counted as passed by a dead launcher.
      if (!armed && !plan->empty() && !killedByUs) {
        armed = true;
        consumed = false;
        healthyFirst = 0;
        const FaultKind kind = plan->front();
        if (kind == FaultKind::kKillInExtraction || kind == FaultKind::kKillInCommit)
          killAfterFiles = Uniform(1, static_cast<int>(watched.installed.size()));
        else if (kind == FaultKind::kKillInRemoval)
          killAfterFiles = Uniform(1, static_cast<int>(watched.dropped.size()));
        else if (kind == FaultKind::kKillEarly)
          killAfterMs = Uniform(50, 3000);
        else if (kind == FaultKind::kKillInRange)
          healthyFirst = ArmRangeFault(release);
        else
          ArmServerFault(release, kind);
        requestsSeen = RequestsFor(release, kind);
      }
      if (armed) {
        const FaultKind kind = plan->front();
        const int requests = RequestsFor(release, kind);
        if (WatchesFiles(kind)) {
          chaos::ExtractionWatch& watch = kind == FaultKind::kKillInExtraction ? staged
                                          : kind == FaultKind::kKillInCommit   ? committed
                                                                               : removed;
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
        } else if (!consumed && requests > requestsSeen + healthyFirst) {
          // The request took its copy of the fault; the next one must find the server healthy.
          consumed = true;
          server_.ClearFault(release.zipName);
          Inject(kind);
          lastSize = FileSize(Work() / release.zipName);
          sizeSince = Clock::now();
          if (kind != FaultKind::kKillInDownload && kind != FaultKind::kKillInRange) {
            plan->pop_front();
            armed = false;
          }
        } else if (consumed && (kind == FaultKind::kKillInDownload || kind == FaultKind::kKillInRange)) {
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
  chaos::ReleasePair pair_;
  Watched pairWatched_;
  std::filesystem::path sandbox_;
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
  std::printf(
      "chaos: updates by files %d, passed %d, with ranges asked for %d, ended by files %d, ended by the "
      "whole archive %d, game starts on the old release %d\n",
      f.fileRuns, f.filePassed, f.fileByRanges, f.fileEndedByFiles, f.fileEndedWhole, f.startsOnOld);
  std::printf(
      "chaos: updates by files fetched %.2f MB of archives of %.2f MB in total (%.3f of them)\n",
      Megabytes(f.fileBytes), Megabytes(f.fileArchiveBytes),
      f.fileArchiveBytes == 0 ? 0.0 : static_cast<double>(f.fileBytes) / static_cast<double>(f.fileArchiveBytes));
  const bool ok = f.passed == f.runs && f.filePassed == f.fileRuns && f.corruptInstalls == 0 && f.crashes == 0 &&
                  f.hangs == 0 && f.unexpectedDialogs == 0 && f.writesOutside == 0;
  std::printf("chaos: %s\n", ok ? "PASSED" : "FAILED");
  return ok ? 0 : 1;
}
