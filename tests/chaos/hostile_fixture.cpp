#include "tests/chaos/hostile_fixture.h"

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <thread>

#include "app/settings.h"
#include "tests/chaos/chaos_server.h"
#include "tests/chaos/tree_check.h"

namespace chaos {
namespace {

std::vector<std::string> ReadLines(const std::filesystem::path& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::uint64_t ResidentBytes(pid_t pid) {
  std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
  std::uint64_t size = 0;
  std::uint64_t resident = 0;
  statm >> size >> resident;
  return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

}  // namespace

void LauncherSandbox::SetUp() {
  std::filesystem::create_directories(Work());
  std::ofstream(Root() / "canary.txt") << "untouched\n";
  server_ = ListenOnChaosPort(std::chrono::seconds(60));
  before_ = ListTree(Root());
}

void LauncherSandbox::TearDown() {
  if (server_) server_->Stop();
}

std::filesystem::path LauncherSandbox::Data() const { return Work() / settings::dataFolder; }

ReleaseShape LauncherSandbox::SmallShape() {
  ReleaseShape shape;
  shape.blobBytes = 256 * 1024;
  shape.smallFiles = 40;
  return shape;
}

Release LauncherSandbox::PublishAndServe(const std::string& version, std::uint32_t seed,
                                         const std::vector<std::string>& unsupported, const ReleaseShape& shape) {
  Release release = MakeRelease(Root() / "releases", version, CHAOS_GAME, seed, shape, unsupported);
  server_->ServeFolder(release.serverFolder);
  // The published folders are the test's own, not the launcher's: they count as "before".
  before_ = ListTree(Root());
  return release;
}

void LauncherSandbox::NoteOwnFiles() { before_ = ListTree(Root()); }

Outcome LauncherSandbox::RunLauncher(const std::vector<std::string>& answers, const Watch& watch, int deadlineMs) {
  const auto startsFile = Work() / "chaos_game_starts.txt";
  const std::size_t linesBefore = ReadLines(startsFile).size();
  Outcome outcome;
  for (int attempt = 0;; ++attempt) {
    outcome = Outcome();
    LauncherProcess launcher(CHAOS_LAUNCHER, Work());
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    std::size_t answered = 0;
    std::size_t nextAnswer = 0;
    while (!launcher.Pump(10)) {
      while (answered < launcher.Prompts().size()) {
        const Prompt& prompt = launcher.Prompts()[answered++];
        if (!prompt.retryCancel) {
          launcher.Answer("");
        } else if (nextAnswer < answers.size()) {
          launcher.Answer(answers[nextAnswer++]);
        } else {
          launcher.Answer("c");
        }
      }
      if (watch) outcome.abortReason = watch(launcher);
      if (outcome.abortReason.empty() && std::chrono::steady_clock::now() > deadline) {
        outcome.abortReason = "still running after " + std::to_string(deadlineMs) + " ms";
      }
      if (!outcome.abortReason.empty()) {
        launcher.Kill(SIGKILL);
        launcher.WaitExit(5000);
        break;
      }
    }
    outcome.ended = outcome.abortReason.empty();
    outcome.exitCode = launcher.ExitCode();
    outcome.signal = launcher.TermSignal();
    outcome.prompts = launcher.Prompts();
    outcome.output = launcher.Output();
    outcome.errors = launcher.Errors();
    if (!MetAnotherLauncher(launcher) || attempt == 600) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  // The game may still be checking its files when the launcher has ended: its line is this run's.
  WaitForProcessesFrom(Data(), 5000);
  const auto lines = ReadLines(startsFile);
  outcome.gameStarts.assign(lines.begin() + static_cast<std::ptrdiff_t>(std::min(linesBefore, lines.size())),
                            lines.end());
  return outcome;
}

void LauncherSandbox::ExpectNothingWrittenOutside(const std::string& marker) {
  EXPECT_EQ(NewPathsOutside(Root(), Work(), before_), std::vector<std::string>{});
  std::ifstream canary(Root() / "canary.txt");
  std::string text;
  std::getline(canary, text);
  EXPECT_EQ(text, "untouched");
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path())) {
    EXPECT_EQ(entry.path().filename().string().find(marker), std::string::npos) << entry.path();
  }
}

void LauncherSandbox::ExpectRetryBoxes(const Outcome& outcome, std::size_t atLeast) {
  std::size_t boxes = 0;
  for (const auto& prompt : outcome.prompts) boxes += prompt.retryCancel ? 1 : 0;
  EXPECT_GE(boxes, atLeast) << outcome.errors;
}

void LauncherSandbox::ExpectOrderlyEnd(const Outcome& outcome) {
  EXPECT_TRUE(outcome.ended) << outcome.abortReason << "\n" << outcome.errors.substr(0, 4000);
  EXPECT_EQ(outcome.signal, 0) << outcome.errors.substr(0, 4000);
  EXPECT_EQ(outcome.exitCode, 0) << outcome.errors.substr(0, 4000);
}

Watch BoundedGrowth(const std::filesystem::path& file, std::uint64_t maxFileBytes, std::uint64_t maxResidentBytes) {
  return [file, maxFileBytes, maxResidentBytes](LauncherProcess& launcher) -> std::string {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    if (!error && size > maxFileBytes) return "the archive grew to " + std::to_string(size) + " bytes";
    const auto resident = ResidentBytes(launcher.Pid());
    if (resident > maxResidentBytes) return "the launcher's memory grew to " + std::to_string(resident) + " bytes";
    return {};
  };
}

}  // namespace chaos
