#include "tests/e2e/launcher_fixture.h"

#include <rapidjson/document.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "tools/publish/publisher.h"

namespace e2e {
namespace {

// Names of variables that would give the launcher a display to open its splash on.
const std::vector<std::string> kDisplayVariables = {"DISPLAY", "WAYLAND_DISPLAY"};

std::string RandomBytes(std::uint64_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (auto& byte : bytes) byte = static_cast<char>(generator());
  return bytes;
}

}  // namespace

void LauncherFixture::SetUp() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  root_ = fs::temp_directory_path() / ("launcher_e2e_" + std::to_string(getpid()) + "_" + info->name());
  fs::remove_all(root_);
  content_ = root_ / "content";
  work_ = root_ / "work";
  fs::create_directories(content_);
  fs::create_directories(work_);
}

void LauncherFixture::TearDown() {
  StopServer();
  if (!HasFailure()) fs::remove_all(root_);  // a failed run's folders stay for a look
}

std::string LauncherFixture::ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void LauncherFixture::WriteText(const fs::path& file, const std::string& text) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

fs::path LauncherFixture::MakeGameBuild(const std::string& version) {
  const fs::path build = root_ / ("build_" + version);
  if (fs::exists(build)) return build;  // the same build, so publishing it again changes nothing
  fs::create_directories(build / "assets");
  fs::copy_file(LAUNCHER_E2E_DEMO_GAME, build / kGameExe, fs::copy_options::overwrite_existing);
  WriteText(build / "version.txt", version);
  WriteText(build / "assets" / "pack0.bin",
            RandomBytes(kAssetBytes, static_cast<unsigned>(std::hash<std::string>()(version))));
  return build;
}

std::string LauncherFixture::Publish(const std::string& version, const std::vector<std::string>& unsupported) {
  publish::PublishOptions options;
  options.channelId = kChannel;
  options.version = version;
  options.buildFolder = MakeGameBuild(version);
  options.outputFolder = content_;
  if (!unsupported.empty()) options.unsupportedVersions = unsupported;
  options.signKey = signKey_;
  std::ostringstream progress;
  return publish::Publish(options, progress).zipMd5;
}

void LauncherFixture::StartServer() {
  server_ = std::make_unique<serve::StaticServer>(content_, [this](const serve::RequestLogLine& line) {
    std::lock_guard<std::mutex> lock(logMutex_);
    log_.push_back(serve::FormatLogLine(line));
  });
  server_->Bind(LAUNCHER_E2E_PORT);
  server_->Start();
}

void LauncherFixture::StopServer() {
  if (server_) server_->Stop();
  server_.reset();
}

std::vector<std::string> LauncherFixture::LogFor(const std::string& prefix) {
  std::lock_guard<std::mutex> lock(logMutex_);
  std::vector<std::string> lines;
  for (const auto& line : log_) {
    if (line.rfind("GET " + prefix, 0) == 0) lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> LauncherFixture::WholeArchiveLogFor(const std::string& prefix) {
  std::vector<std::string> lines;
  for (const auto& line : LogFor(prefix)) {
    const auto at = line.find(" range=");
    const std::string range = at == std::string::npos ? "" : line.substr(at + 7, line.find(' ', at + 7) - at - 7);
    if (range == "-" || range.ends_with("-")) lines.push_back(line);
  }
  return lines;
}

void LauncherFixture::ClearLog() {
  std::lock_guard<std::mutex> lock(logMutex_);
  log_.clear();
}

std::unique_ptr<ChildProcess> LauncherFixture::StartLauncherOnce(const std::vector<std::string>& args) {
  return std::make_unique<ChildProcess>(LAUNCHER_E2E_EXE, args, work_, kDisplayVariables);
}

std::unique_ptr<ChildProcess> LauncherFixture::StartLauncher(const std::vector<std::string>& args) {
  // The single-instance guard is per user and machine: a launcher of some other test run may
  // hold it for a moment. Wait for it rather than fail on it.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (;;) {
    auto launcher = StartLauncherOnce(args);
    // A launcher says at once whether it runs (its status line) or was turned away.
    const auto firstWords = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (launcher->Output().empty() && !launcher->Exited() && std::chrono::steady_clock::now() < firstWords) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const bool refused = launcher->WaitForOutput(kAnotherLauncherRunning, std::chrono::milliseconds(100));
    if (!refused || std::chrono::steady_clock::now() >= deadline) return launcher;
    launcher->WaitForExit(std::chrono::seconds(10));
    std::this_thread::sleep_for(std::chrono::seconds(1));
  }
}

LauncherRun LauncherFixture::RunLauncher(const std::vector<std::string>& args, const std::string& answers,
                                         std::chrono::seconds timeout) {
  const auto start = std::chrono::steady_clock::now();
  auto launcher = StartLauncher(args);
  launcher->WriteInput(answers);
  launcher->CloseInput();
  LauncherRun run;
  run.exitCode = launcher->WaitForExit(timeout);
  run.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  run.peakResidentKiB = launcher->PeakResidentKiB();
  // The output pipe may still be drained; a short grace keeps the last lines.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  run.output = launcher->Output();
  return run;
}

std::vector<GameRun> LauncherFixture::GameRuns(std::size_t expected) {
  const fs::path record = DataFolder() / "demo_game_runs.txt";
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  std::vector<GameRun> runs;
  for (;;) {
    runs.clear();
    std::istringstream lines(ReadText(record));
    for (std::string line; std::getline(lines, line);) {
      rapidjson::Document document;
      document.Parse(line.c_str());
      if (document.HasParseError() || !document.IsObject()) continue;
      GameRun run;
      run.cwd = document["cwd"].GetString();
      for (const auto& arg : document["args"].GetArray()) run.args.emplace_back(arg.GetString());
      runs.push_back(run);
    }
    if (runs.size() >= expected || std::chrono::steady_clock::now() >= deadline) return runs;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace e2e
