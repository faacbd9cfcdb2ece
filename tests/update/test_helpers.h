// Shared pieces of the update-check tests: a scratch working folder, files with chosen
// contents and modification times, scripted dialogs and a recorder for callback rows.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace updatetest {

// A fresh folder under the temporary folder, made the working directory for the object's life.
class ScratchWorkingFolder {
 public:
  ScratchWorkingFolder();
  ~ScratchWorkingFolder();
  ScratchWorkingFolder(const ScratchWorkingFolder&) = delete;
  ScratchWorkingFolder& operator=(const ScratchWorkingFolder&) = delete;
  const std::filesystem::path& Root() const { return root_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path root_;
};

// A unique, empty folder under the temporary folder (not entered).
std::filesystem::path MakeScratchFolder(const std::string& purpose);

void WriteFile(const std::filesystem::path& path, const std::string& content);
// Sets the last-write time to whole seconds since 1970.
void SetModificationTime(const std::filesystem::path& path, std::int64_t secondsSinceEpoch);

// One call of a result or failover callback.
struct Row {
  std::string status;
  std::string first;
  std::string second;
  std::int64_t size = 0;
  std::int64_t offset = 0;
  std::chrono::steady_clock::time_point at;
};

// Collects rows from any thread; tests wait for them. Shared-owned so that callbacks that run
// late never touch a finished test.
class Recorder {
 public:
  void Add(Row row);
  // Waits until at least `count` rows arrived; false on time-out.
  bool WaitFor(std::size_t count, std::chrono::milliseconds timeout);
  // Waits until `done` holds for the rows arrived so far; false on time-out.
  bool WaitUntil(const std::function<bool(const std::vector<Row>&)>& done, std::chrono::milliseconds timeout);
  std::vector<Row> Rows() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Row> rows_;
};

// Answers boxes from a script and remembers what was shown. When the script runs out, the box
// is answered with `fallback`.
class ScriptedDialogs : public platform::Dialogs {
 public:
  struct Shown {
    std::string text;
    std::string caption;
    unsigned style = 0;
  };
  explicit ScriptedDialogs(int fallback = platform::kAnswerCancel) : fallback_(fallback) {}
  // `beforeAnswer` runs on the dialog's thread before the answer is returned.
  void Script(int answer, std::function<void()> beforeAnswer = {});

  void BringMainWindowToFront() override;
  int Show(const std::string& text, const std::string& caption, unsigned style) override;

  std::vector<Shown> ShownBoxes() const;
  int FrontRequests() const;

 private:
  struct Step {
    int answer;
    std::function<void()> beforeAnswer;
  };
  mutable std::mutex mutex_;
  std::deque<Step> script_;
  std::vector<Shown> shown_;
  int frontRequests_ = 0;
  int fallback_;
};

// Installs scripted dialogs and an exit hook for one test, and removes them afterwards.
class DialogAndExitCapture {
 public:
  DialogAndExitCapture();
  ~DialogAndExitCapture();
  ScriptedDialogs& Dialogs() { return *dialogs_; }
  // Waits for QuickExit; returns its code, or -1 when nothing ended the process in time.
  int WaitForExit(std::chrono::milliseconds timeout);

 private:
  struct ExitState {
    std::mutex mutex;
    std::condition_variable changed;
    int code = -1;
  };
  std::shared_ptr<ScriptedDialogs> dialogs_;
  std::shared_ptr<ExitState> exit_;
};

}  // namespace updatetest
