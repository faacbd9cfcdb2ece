#include "test_helpers.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include <atomic>
#include <fstream>
#include <stdexcept>

#include "platform/process_exit.h"

namespace updatetest {

std::filesystem::path MakeScratchFolder(const std::string& purpose) {
  static std::atomic<int> counter{0};
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() /
      ("launcher-update-" + purpose + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter.fetch_add(1)));
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  return root;
}

ScratchWorkingFolder::ScratchWorkingFolder()
    : previous_(std::filesystem::current_path()), root_(MakeScratchFolder("cwd")) {
  std::filesystem::current_path(root_);
}

ScratchWorkingFolder::~ScratchWorkingFolder() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  std::filesystem::remove_all(root_, ignored);
}

void WriteFile(const std::filesystem::path& path, const std::string& content) {
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

void SetModificationTime(const std::filesystem::path& path, std::int64_t secondsSinceEpoch) {
#ifdef _WIN32
  // File time: 100-nanosecond units since 1601.
  const auto ticks = static_cast<ULONGLONG>(secondsSinceEpoch * 10000000LL + 116444736000000000LL);
  const FILETIME time{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
  HANDLE file = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const bool set = file != INVALID_HANDLE_VALUE && SetFileTime(file, nullptr, &time, &time);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  if (!set) throw std::runtime_error("cannot set the time of " + path.string());
#else
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(secondsSinceEpoch);
  times[0].tv_nsec = 0;
  times[1] = times[0];
  if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0) {
    throw std::runtime_error("cannot set the time of " + path.string());
  }
#endif
}

void Recorder::Add(Row row) {
  row.at = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  rows_.push_back(std::move(row));
  changed_.notify_all();
}

bool Recorder::WaitFor(std::size_t count, std::chrono::milliseconds timeout) {
  return WaitUntil([count](const std::vector<Row>& rows) { return rows.size() >= count; }, timeout);
}

bool Recorder::WaitUntil(const std::function<bool(const std::vector<Row>&)>& done, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return done(rows_); });
}

std::vector<Row> Recorder::Rows() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rows_;
}

void ScriptedDialogs::Script(int answer, std::function<void()> beforeAnswer) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.push_back({answer, std::move(beforeAnswer)});
}

void ScriptedDialogs::BringMainWindowToFront() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++frontRequests_;
}

int ScriptedDialogs::Show(const std::string& text, const std::string& caption, unsigned style) {
  Step step{fallback_, {}};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_.push_back({text, caption, style});
    if (!script_.empty()) {
      step = std::move(script_.front());
      script_.pop_front();
    }
  }
  if (step.beforeAnswer) step.beforeAnswer();
  return step.answer;
}

std::vector<ScriptedDialogs::Shown> ScriptedDialogs::ShownBoxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shown_;
}

int ScriptedDialogs::FrontRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return frontRequests_;
}

namespace {

// Dialogs stay installed process-wide: a thread parked by the exit hook, or one still finishing
// after its test, may reach them later, so they are never destroyed while the process runs.
std::vector<std::shared_ptr<ScriptedDialogs>>& RetiredDialogs() {
  static auto* retired = new std::vector<std::shared_ptr<ScriptedDialogs>>();
  return *retired;
}

}  // namespace

DialogAndExitCapture::DialogAndExitCapture()
    : dialogs_(std::make_shared<ScriptedDialogs>()), exit_(std::make_shared<ExitState>()) {
  RetiredDialogs().push_back(dialogs_);
  platform::SetCurrentDialogs(dialogs_.get());
  std::shared_ptr<ExitState> state = exit_;
  platform::SetExitHookForTesting([state](int code) {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->code = code;
    state->changed.notify_all();
  });
}

DialogAndExitCapture::~DialogAndExitCapture() {
  // The hook stays set: a QuickExit arriving late must park its thread, not end the test run.
  platform::SetExitHookForTesting([](int) {});
}

int DialogAndExitCapture::WaitForExit(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(exit_->mutex);
  exit_->changed.wait_for(lock, timeout, [&] { return exit_->code != -1; });
  return exit_->code;
}

}  // namespace updatetest
