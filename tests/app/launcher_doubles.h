// Stand-ins for the stage workers, so the controller's stage machine runs inside one test process.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/launcher.h"
#include "platform/dialogs.h"

struct FakeCheck : UpdateCheck {
  std::mutex mutex;
  int starts = 0;
  int saves = 0;
  ResultCallback last;
  void Start(ResultCallback callback) override {
    std::lock_guard<std::mutex> lock(mutex);
    ++starts;
    last = std::move(callback);
  }
  void SaveLastFileInfo() override {
    std::lock_guard<std::mutex> lock(mutex);
    ++saves;
  }
  std::vector<std::string> forgotten;
  void ForgetFileInfo(const std::string& archiveName) override {
    std::lock_guard<std::mutex> lock(mutex);
    forgotten.push_back(archiveName);
  }
  std::string sha256;  // what the file information gives as the archive's SHA-256
  std::string ArchiveSha256() const override { return sha256; }
};

struct FakeDownloader : PackageDownloader {
  std::vector<std::pair<std::string, std::string>> remembered;
  std::vector<DownloadTask> tasks;
  void RememberPackage(const std::string& path, const std::string& digest) override {
    remembered.emplace_back(path, digest);
  }
  void Start(DownloadTask task) override { tasks.push_back(std::move(task)); }
};

struct FakeExtractor : PackageExtractor {
  std::mutex mutex;
  std::vector<UnzipTask> tasks;
  bool refuse = false;
  void Start(UnzipTask task) override {
    if (refuse) throw std::runtime_error("no thread left");
    std::lock_guard<std::mutex> lock(mutex);
    tasks.push_back(std::move(task));
  }
  std::vector<UnzipTask> Tasks() {
    std::lock_guard<std::mutex> lock(mutex);
    return tasks;
  }
};

struct FakeGame : GameControl {
  std::mutex mutex;
  int kills = 0;
  int starts = 0;
  bool running = false;
  bool startSucceeds = true;
  platform::ProcessStart failure{false, true, "Exec format error"};  // what a failed start reports
  bool throwOnStart = false;
  std::string arguments;
  void KillGameProcesses() override {
    std::lock_guard<std::mutex> lock(mutex);
    ++kills;
  }
  bool IsGameRunning() override {
    std::lock_guard<std::mutex> lock(mutex);
    return running;
  }
  std::string BuildArgumentString() override {
    if (throwOnStart) throw std::runtime_error("out of memory");
    return "-a b";
  }
  platform::ProcessStart CreateGameProcess(const std::string& args) override {
    std::lock_guard<std::mutex> lock(mutex);
    ++starts;
    arguments = args;
    return startSucceeds ? platform::ProcessStart{true, false, {}} : failure;
  }
  int Starts() {
    std::lock_guard<std::mutex> lock(mutex);
    return starts;
  }
};

// Answers boxes from a script and remembers what they showed.
struct ScriptedDialogs : platform::Dialogs {
  struct Box {
    std::string text, caption;
    unsigned style;
  };
  std::mutex mutex;
  std::condition_variable shown;
  std::vector<Box> boxes;
  std::deque<int> answers;
  int foregrounds = 0;
  void BringMainWindowToFront() override {
    std::lock_guard<std::mutex> lock(mutex);
    ++foregrounds;
  }
  int Show(const std::string& text, const std::string& caption, unsigned style) override {
    std::lock_guard<std::mutex> lock(mutex);
    boxes.push_back({text, caption, style});
    shown.notify_all();
    if (answers.empty()) return platform::kAnswerOk;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  bool WaitForBoxes(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return shown.wait_for(lock, timeout, [&] { return boxes.size() >= count; });
  }
  Box At(std::size_t index) {
    std::lock_guard<std::mutex> lock(mutex);
    return boxes.at(index);
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return boxes.size();
  }
};

// Records the process exits the controller asks for, with the time they came.
struct ExitRecorder {
  std::mutex mutex;
  std::condition_variable signal;
  std::vector<std::pair<int, std::chrono::steady_clock::time_point>> exits;
  void Record(int code) {
    std::lock_guard<std::mutex> lock(mutex);
    exits.emplace_back(code, std::chrono::steady_clock::now());
    signal.notify_all();
  }
  bool WaitForExit(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    return signal.wait_for(lock, timeout, [&] { return !exits.empty(); });
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return exits.size();
  }
};
