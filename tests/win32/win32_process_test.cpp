// Toolhelp, OpenProcess/TerminateProcess, CreateProcessW, the wide argument vector and the
// named mutex with its activation broadcast, against real processes and windows.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/instance_guard.h"
#include "platform/process.h"
#include "platform/win32/activation.h"
#include "tests/support/scratch_dir.h"
#include "tests/win32/test_paths.h"

namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Waits up to 20 s for `path` to hold a line "end" (the helper finished writing).
std::string WaitForRun(const std::string& path) {
  for (int i = 0; i < 400; ++i) {
    const std::string text = ReadFile(path);
    if (text.find("end\n") != std::string::npos) return text;
    std::this_thread::sleep_for(50ms);
  }
  return {};
}

// `program` in quotes, then `arguments`. (Appended piecewise: GCC 12 misreads the chained
// operator+ at -O3 as overlapping copies.)
std::string CommandLine(const std::string& program, const std::string& arguments) {
  std::string line = "\"";
  line += program;
  line += "\" ";
  line += arguments;
  return line;
}

// Waits up to `limit` for every process in `pids` to end, on the processes' own handles.
void WaitUntilEnded(std::initializer_list<std::uint32_t> pids, DWORD limitMs) {
  const ULONGLONG deadline = GetTickCount64() + limitMs;
  for (const std::uint32_t pid : pids) {
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (process == nullptr) continue;  // already gone
    const ULONGLONG now = GetTickCount64();
    WaitForSingleObject(process, now < deadline ? static_cast<DWORD>(deadline - now) : 0);
    CloseHandle(process);
  }
}

bool IsRunning(std::uint32_t pid) {
  bool found = false;
  platform::ForEachRunningProcess([&](const platform::ProcessEntry& entry) {
    if (entry.pid != pid) return platform::LoopState::Continue;
    found = true;
    return platform::LoopState::Stop;
  });
  return found;
}

std::uint32_t FindByName(const std::string& exeName) {
  std::uint32_t pid = 0;
  platform::ForEachRunningProcess([&](const platform::ProcessEntry& entry) {
    if (entry.exeName != exeName) return platform::LoopState::Continue;
    pid = entry.pid;
    return platform::LoopState::Stop;
  });
  return pid;
}

TEST(Win32Processes, SnapshotListsThisProcessUnderItsExecutableName) {
  std::vector<platform::ProcessEntry> entries;
  platform::ForEachRunningProcess([&](const platform::ProcessEntry& entry) {
    entries.push_back(entry);
    return platform::LoopState::Continue;
  });
  bool foundSelf = false;
  for (const auto& entry : entries) {
    if (entry.pid == GetCurrentProcessId()) {
      foundSelf = true;
      EXPECT_EQ(entry.exeName, "win32_backend_tests.exe");
    }
  }
  EXPECT_TRUE(foundSelf);
  int visited = 0;
  platform::ForEachRunningProcess([&](const platform::ProcessEntry&) {
    ++visited;
    return platform::LoopState::Stop;
  });
  EXPECT_EQ(visited, 1);
}

TEST(Win32Processes, StartedProgramGetsItsCommandLineAndWorkingFolder) {
  testsupport::ScratchDir dir("win32-start");
  const std::string game = win32test::HelperProgram("stand_in_game.exe");
  ASSERT_TRUE(platform::StartProcess(CommandLine(game, "-a b c"), dir.Path().string()));
  const std::string run = WaitForRun(dir.File("stand_in_game_runs.txt"));
  ASSERT_FALSE(run.empty());
  EXPECT_NE(run.find("arg=-a\narg=b\narg=c\nend\n"), std::string::npos) << run;
  char expectedFolder[MAX_PATH] = {};
  GetFullPathNameA(dir.Path().string().c_str(), MAX_PATH, expectedFolder, nullptr);
  EXPECT_NE(run.find(std::string("cwd=") + expectedFolder + "\n"), std::string::npos) << run;

  EXPECT_FALSE(platform::StartProcess(dir.File("absent.exe") + " x", dir.Path().string()));
}

TEST(Win32Processes, TerminateStopsARunningProgramFoundByName) {
  EXPECT_FALSE(platform::TerminateProcessById(0xFFFFFFF0u));  // no such process
  testsupport::ScratchDir dir("win32-kill");
  SetEnvironmentVariableA("STAND_IN_GAME_STAY_MS", "60000");
  const bool started =
      platform::StartProcess(CommandLine(win32test::HelperProgram("stand_in_game.exe"), ""), dir.Path().string())
          .started;
  SetEnvironmentVariableA("STAND_IN_GAME_STAY_MS", nullptr);
  ASSERT_TRUE(started);
  ASSERT_FALSE(WaitForRun(dir.File("stand_in_game_runs.txt")).empty());

  const std::uint32_t pid = FindByName("stand_in_game.exe");
  ASSERT_NE(pid, 0u);
  EXPECT_EQ(FindByName("STAND_IN_GAME.EXE"), 0u);  // names match byte for byte
  EXPECT_TRUE(platform::TerminateProcessById(pid));
  WaitUntilEnded({pid}, 10000);
  EXPECT_FALSE(IsRunning(pid));
}

// The argument text the launcher hands its game, as a program started with `arguments` builds it.
std::string ArgumentTextFor(const std::string& arguments) {
  testsupport::ScratchDir dir("win32-args");
  const std::string out = dir.File("echo.txt");
  SetEnvironmentVariableA("ARGUMENT_ECHO_FILE", out.c_str());
  const bool started =
      platform::StartProcess(CommandLine(win32test::HelperProgram("argument_echo.exe"), arguments), dir.Path().string())
          .started;
  SetEnvironmentVariableA("ARGUMENT_ECHO_FILE", nullptr);
  if (!started) return "(not started)";
  for (int i = 0; i < 400; ++i) {
    const std::string text = ReadFile(out);
    if (!text.empty() && text.back() == ']') return text;
    std::this_thread::sleep_for(50ms);
  }
  return "(no answer)";
}

TEST(Win32Processes, LauncherArgumentsLoseTheirQuotingOnTheWayToTheGame) {
  EXPECT_EQ(ArgumentTextFor("-a \"b c\""), "[-a b c]");
  EXPECT_EQ(ArgumentTextFor("a \"\" b"), "[a  b]");
  EXPECT_EQ(ArgumentTextFor(""), "[]");
}

TEST(Win32Processes, CommandLinesSplitTheWayWindowsProgramsReadThem) {
  EXPECT_EQ(platform::SplitCommandLine("game.exe -a \"b c\" d"),
            (std::vector<std::string>{"game.exe", "-a", "b c", "d"}));
  EXPECT_TRUE(platform::SplitCommandLine("").empty());
}

// A copy of the stand-in game named `name` in `folder`, started there and left running; its
// pid once it has written its run, else 0.
std::uint32_t StartOpenCopy(const std::filesystem::path& folder, const std::string& name) {
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(win32test::HelperProgram("stand_in_game.exe"), folder / name,
                             std::filesystem::copy_options::overwrite_existing);
  SetEnvironmentVariableA("STAND_IN_GAME_STAY_MS", "60000");
  const bool started = platform::StartProcess(CommandLine((folder / name).string(), ""), folder.string()).started;
  SetEnvironmentVariableA("STAND_IN_GAME_STAY_MS", nullptr);
  if (!started || WaitForRun((folder / "stand_in_game_runs.txt").string()).empty()) return 0;
  return FindByName(name);
}

// The folder a program runs from is its image's full path; letter case, the separator's
// spelling and a trailing separator do not matter, a sibling whose name starts the same does.
TEST(Win32Processes, ImageFolderHoldsOnlyProgramsWhoseImageLiesInsideIt) {
  testsupport::ScratchDir dir("win32-image-folder");
  const auto tag = std::to_string(GetCurrentProcessId());
  const std::uint32_t inside = StartOpenCopy(dir.Path() / "Tessarine" / "bin", "game_in_" + tag + ".exe");
  const std::uint32_t sibling = StartOpenCopy(dir.Path() / "Tessarine2", "game_sib_" + tag + ".exe");
  const std::uint32_t elsewhere = StartOpenCopy(dir.Path() / "other" / "Tessarine", "game_out_" + tag + ".exe");
  ASSERT_NE(inside, 0u);
  ASSERT_NE(sibling, 0u);
  ASSERT_NE(elsewhere, 0u);

  const platform::ImageFolder folder(dir.File("Tessarine"));
  EXPECT_FALSE(folder.Path().empty());
  EXPECT_TRUE(folder.Holds(inside)) << folder.Path();
  EXPECT_FALSE(folder.Holds(sibling));
  EXPECT_FALSE(folder.Holds(elsewhere));
  EXPECT_FALSE(folder.Holds(GetCurrentProcessId()));

  std::string otherSpelling = dir.File("TESSARINE") + "/";
  for (char& c : otherSpelling) c = c == '\\' ? '/' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const platform::ImageFolder spelledOtherwise(otherSpelling);
  EXPECT_TRUE(spelledOtherwise.Holds(inside)) << spelledOtherwise.Path();
  EXPECT_FALSE(spelledOtherwise.Holds(sibling));

  const platform::ImageFolder missing(dir.File("absent"));
  EXPECT_FALSE(missing.Holds(inside));

  for (auto pid : {inside, sibling, elsewhere}) platform::TerminateProcessById(pid);
  WaitUntilEnded({inside, sibling, elsewhere}, 10000);
}

// A failed start carries the system's words; only a file that is no program is blamed.
TEST(Win32Processes, FailedStartBlamesOnlyAFileThatIsNoProgram) {
  testsupport::ScratchDir dir("win32-bad-exe");
  {
    std::ofstream garbage(dir.File("kolv.exe"), std::ios::binary);
    garbage << std::string(3000, '\x5a');
  }
  const platform::ProcessStart damaged =
      platform::StartProcess(CommandLine(dir.File("kolv.exe"), ""), dir.Path().string());
  EXPECT_FALSE(damaged.started);
  EXPECT_TRUE(damaged.badExecutable) << damaged.reason;
  EXPECT_NE(damaged.reason.find("(193)"), std::string::npos) << damaged.reason;  // ERROR_BAD_EXE_FORMAT

  const platform::ProcessStart missing =
      platform::StartProcess(CommandLine(dir.File("absent.exe"), ""), dir.Path().string());
  EXPECT_FALSE(missing.started);
  EXPECT_FALSE(missing.badExecutable);
  EXPECT_NE(missing.reason.find("(2)"), std::string::npos) << missing.reason;  // ERROR_FILE_NOT_FOUND
}

// A hidden top-level window that counts the activation broadcasts it receives.
int activationsSeen = 0;
LRESULT CALLBACK CountingProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message != 0 && message == platform::win32::ActivationMessage()) {
    ++activationsSeen;
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST(Win32InstanceGuard, ASecondStartIsRefusedAndWakesTheFirst) {
  const std::string mutexName = "KOLV__Mutex_test_" + std::to_string(GetCurrentProcessId());
  const std::string messageName = mutexName + "__EH";
  auto first = platform::AcquireSingleInstance(mutexName, messageName);
  ASSERT_NE(first, nullptr);

  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &CountingProcedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"ActivationCounter";
  RegisterClassExW(&windowClass);
  HWND window = CreateWindowExW(0, L"ActivationCounter", L"ActivationCounter", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(window, nullptr);

  activationsSeen = 0;
  // SendMessageA to HWND_BROADCAST reaches this thread's own top-level window before it returns.
  EXPECT_EQ(platform::AcquireSingleInstance(mutexName, messageName), nullptr);
  EXPECT_EQ(activationsSeen, 1);

  first.reset();  // the mutex goes with the guard
  auto again = platform::AcquireSingleInstance(mutexName, messageName);
  EXPECT_NE(again, nullptr);
  DestroyWindow(window);
}

}  // namespace
