#include "platform/process.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "app/game_control.h"
#include "app/settings.h"
#include "platform/files.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::vector<std::uint32_t> PidsNamed(const std::string& name) {
  std::vector<std::uint32_t> pids;
  platform::ForEachRunningProcess([&](const platform::ProcessEntry& entry) {
    if (entry.exeName == name) pids.push_back(entry.pid);
    return platform::LoopState::Continue;
  });
  return pids;
}

std::string WaitForFile(const fs::path& path) {
  for (int i = 0; i < 500 && !fs::exists(path); ++i) std::this_thread::sleep_for(10ms);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The process started in `folder` (its working folder) among those named `name`; 0 when none.
std::uint32_t PidStartedIn(const std::string& name, const fs::path& folder) {
  for (auto pid : PidsNamed(name)) {
    std::error_code error;
    if (fs::equivalent(fs::read_symlink("/proc/" + std::to_string(pid) + "/cwd", error), folder, error)) return pid;
  }
  return 0;
}

bool Alive(std::uint32_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("State:", 0) == 0) return line.find('Z') == std::string::npos;  // a zombie has ended
  }
  return false;
}

// Waits up to 3 s on a pidfd, which becomes readable when the process ends.
bool WaitUntilEnded(std::uint32_t pid) {
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
  if (fd < 0) return !Alive(pid);  // already gone and reaped
  pollfd ended{fd, POLLIN, 0};
  ::poll(&ended, 1, 3000);
  ::close(fd);
  return !Alive(pid);
}

class GameProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("game-process-" + std::to_string(getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    for (auto pid : started_) kill(static_cast<pid_t>(pid), SIGKILL);
    fs::remove_all(root_);
  }
  // A copy of the stand-in game under a name no other process on the machine has.
  fs::path CopyGame(const fs::path& folder, const std::string& name) {
    fs::create_directories(folder);
    fs::copy_file(FAKE_GAME_PATH, folder / name, fs::copy_options::overwrite_existing);
    return folder / name;
  }
  // Starts a copy of the stand-in game from `folder` / `name`, waits for it to run; its pid.
  std::uint32_t StartCopy(const fs::path& folder, const std::string& name) {
    const fs::path exe = CopyGame(folder, name);
    if (!platform::StartProcess("\"" + exe.string() + "\"", folder.string())) return 0;
    WaitForFile(folder / "started.txt");
    const std::uint32_t pid = PidStartedIn(name, folder);
    if (pid != 0) started_.push_back(pid);
    return pid;
  }
  fs::path root_;
  std::vector<std::uint32_t> started_;
};

TEST(SplitCommandLine, FollowsTheWindowsRulesForBlanksQuotesAndBackslashes) {
  using V = std::vector<std::string>;
  EXPECT_EQ(platform::SplitCommandLine("game.exe -a b c"), (V{"game.exe", "-a", "b", "c"}));
  EXPECT_EQ(platform::SplitCommandLine("game.exe a  b"), (V{"game.exe", "a", "b"}));  // an empty argument vanishes
  EXPECT_EQ(platform::SplitCommandLine("game.exe "), (V{"game.exe"}));
  EXPECT_EQ(platform::SplitCommandLine("x \"b c\" \"\""), (V{"x", "b c", ""}));
  EXPECT_EQ(platform::SplitCommandLine(R"(x a\\\"b c\\"d e" f\g)"), (V{"x", R"(a\"b)", R"(c\d e)", R"(f\g)"}));
}

TEST(BuildArgumentString, JoinsWithSingleBlanksAndNoQuotes) {
  SystemGameControl game;
  char program[] = "launcher", a[] = "-a", bc[] = "b c", empty[] = "", b[] = "b";
  char* first[] = {program, a, bc};
  platform::RecordArguments(3, first);
  EXPECT_EQ(game.BuildArgumentString(), "-a b c");
  char* second[] = {program, a, empty, b};
  platform::RecordArguments(4, second);
  EXPECT_EQ(game.BuildArgumentString(), "-a  b");
  char* none[] = {program};
  platform::RecordArguments(1, none);
  EXPECT_EQ(game.BuildArgumentString(), "");
}

TEST_F(GameProcess, GameStartsInTheDataFolderWithTheLaunchersArgumentsSplitAtBlanks) {
  const fs::path original = fs::current_path();
  fs::current_path(root_);
  CopyGame(root_ / settings::dataFolder, settings::gameExeName);
  SystemGameControl game;
  ASSERT_TRUE(game.CreateGameProcess("-a b c"));
  const std::string started = WaitForFile(root_ / settings::dataFolder / "started.txt");
  fs::current_path(original);
  EXPECT_EQ(started, (root_ / settings::dataFolder).string() + "\n[-a]\n[b]\n[c]\n");
  // Only processes of this test's own game copy are stopped afterwards.
  for (auto pid : PidsNamed(settings::gameExeName)) {
    if (fs::equivalent(fs::read_symlink("/proc/" + std::to_string(pid) + "/cwd"), root_ / settings::dataFolder))
      started_.push_back(pid);
  }
  EXPECT_EQ(started_.size(), 1u);
}

TEST_F(GameProcess, MissingGameIsReportedAsNotStarted) {
  const fs::path original = fs::current_path();
  fs::current_path(root_);
  SystemGameControl game;
  EXPECT_FALSE(game.CreateGameProcess(""));
  fs::current_path(original);
}

TEST_F(GameProcess, ProcessesAreFoundByTheirExactNameAndStopped) {
  const std::string name = "StandIn_" + std::to_string(getpid());
  const fs::path exe = CopyGame(root_ / "one", name);
  CopyGame(root_ / "two", name);
  ASSERT_TRUE(platform::StartProcess(exe.string(), (root_ / "one").string()));
  ASSERT_TRUE(platform::StartProcess((root_ / "two" / name).string(), (root_ / "two").string()));
  WaitForFile(root_ / "one" / "started.txt");
  WaitForFile(root_ / "two" / "started.txt");
  auto pids = PidsNamed(name);
  started_ = pids;
  EXPECT_EQ(pids.size(), 2u);
  std::string lower = name;
  for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_TRUE(PidsNamed(lower).empty());  // no case folding

  // A game binary replaced on disk while it runs is still found under its name.
  fs::remove(exe);
  EXPECT_EQ(PidsNamed(name).size(), 2u);

  for (auto pid : pids) EXPECT_TRUE(platform::TerminateProcessById(pid));
  for (int i = 0; i < 300 && !PidsNamed(name).empty(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(PidsNamed(name).empty());
}

// A copy of the game is told by the folder its executable lies in, as the kernel names it: a
// sibling folder whose name starts the same, a link to the folder, a binary replaced on disk.
TEST_F(GameProcess, ImageFolderHoldsOnlyProcessesWhoseExecutableLiesInsideIt) {
  const std::string name = "StandIn_" + std::to_string(getpid());
  const std::uint32_t inside = StartCopy(root_ / "Tessarine" / "bin", name);
  const std::uint32_t sibling = StartCopy(root_ / "Tessarine2", name);
  const std::uint32_t elsewhere = StartCopy(root_ / "other" / "Tessarine", name);
  ASSERT_NE(inside, 0u);
  ASSERT_NE(sibling, 0u);
  ASSERT_NE(elsewhere, 0u);

  const platform::ImageFolder folder((root_ / "Tessarine").string());
  EXPECT_EQ(folder.Path(), fs::canonical(root_ / "Tessarine").string());
  EXPECT_TRUE(folder.Holds(inside));
  EXPECT_FALSE(folder.Holds(sibling));
  EXPECT_FALSE(folder.Holds(elsewhere));
  EXPECT_FALSE(folder.Holds(static_cast<std::uint32_t>(getpid())));

  fs::create_directory_symlink(root_ / "Tessarine", root_ / "linked");
  const platform::ImageFolder throughLink((root_ / "linked").string() + "/");
  EXPECT_TRUE(throughLink.Holds(inside));
  EXPECT_FALSE(throughLink.Holds(sibling));

  fs::remove(root_ / "Tessarine" / "bin" / name);  // an update replaced the running binary
  EXPECT_TRUE(folder.Holds(inside));

  const platform::ImageFolder missing((root_ / "absent").string());
  EXPECT_TRUE(missing.Path().empty());
  EXPECT_FALSE(missing.Holds(inside));
}

// The launcher's own game control stops and counts only the game of its data folder: a copy
// of another install folder, with the same folder and file names, keeps running.
TEST_F(GameProcess, GameOfAnotherInstallFolderIsNeitherStoppedNorCounted) {
  const fs::path second = root_ / "second install";
  const std::uint32_t theirs = StartCopy(second / settings::dataFolder, settings::gameExeName);
  const std::uint32_t ours = StartCopy(root_ / "first" / settings::dataFolder, settings::gameExeName);
  ASSERT_NE(theirs, 0u);
  ASSERT_NE(ours, 0u);
  const fs::path original = fs::current_path();
  SystemGameControl game;
  fs::current_path(root_ / "first");
  EXPECT_TRUE(game.IsGameRunning());
  game.KillGameProcesses();
  const bool oursEnded = WaitUntilEnded(ours);
  const bool stillCounted = game.IsGameRunning();
  fs::current_path(original);
  EXPECT_TRUE(oursEnded);
  EXPECT_FALSE(stillCounted);
  EXPECT_TRUE(Alive(theirs));
}

// Where the interpreter's name lies in an ELF file of this machine (64-bit, little-endian); 0 if none.
std::uint64_t InterpreterOffset(const std::string& elf) {
  const auto read = [&](std::size_t at, std::size_t bytes) {
    std::uint64_t value = 0;
    for (std::size_t i = bytes; i-- > 0;) value = value << 8 | static_cast<unsigned char>(elf.at(at + i));
    return value;
  };
  const std::uint64_t table = read(32, 8), entrySize = read(54, 2), entries = read(56, 2);
  for (std::uint64_t i = 0; i < entries; ++i) {
    if (read(table + i * entrySize, 4) == 3) return read(table + i * entrySize + 8, 8);  // PT_INTERP
  }
  return 0;
}

// The system's reason comes back with a failed start, and the file is blamed only when exec
// says it is no program: garbage, an empty file, an ELF cut short. A file that may not be run,
// is missing or lies beyond the path limit is not.
TEST_F(GameProcess, FailedStartsCarryTheSystemsReasonAndBlameOnlyAFileThatIsNoProgram) {
  const auto startFrom = [&](const fs::path& exe) { return platform::StartProcess(exe.string(), root_.string()); };
  const auto executable = [](const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
    fs::permissions(file, fs::perms::owner_all);
  };
  std::ifstream real(FAKE_GAME_PATH, std::ios::binary);
  const std::string program{std::istreambuf_iterator<char>(real), {}};
  ASSERT_GT(program.size(), 4096u);

  executable(root_ / "garbage", std::string(2000, '\x5a'));
  executable(root_ / "empty", "");
  executable(root_ / "truncated", program.substr(0, 100));  // the header, not the program headers
  const std::uint64_t interpreter = InterpreterOffset(program);
  ASSERT_GT(interpreter, 0u);
  executable(root_ / "cut-in-interpreter", program.substr(0, interpreter + 4));
  for (const char* damaged : {"garbage", "empty", "truncated", "cut-in-interpreter"}) {
    const platform::ProcessStart start = startFrom(root_ / damaged);
    EXPECT_FALSE(start.started) << damaged;
    EXPECT_TRUE(start.badExecutable) << damaged;
    EXPECT_FALSE(start.reason.empty()) << damaged;
  }
  EXPECT_EQ(startFrom(root_ / "garbage").reason, "Exec format error");
  EXPECT_EQ(startFrom(root_ / "cut-in-interpreter").reason, "Input/output error");

  executable(root_ / "not-executable", program);
  fs::permissions(root_ / "not-executable", fs::perms::owner_read | fs::perms::owner_write);
  std::string deep = root_.string();
  while (deep.size() <= PATH_MAX) deep += "/" + std::string(200, 'd');
  const struct {
    fs::path exe;
    const char* reason;
  } kept[] = {{root_ / "not-executable", "Permission denied"},
              {root_ / "absent", "No such file or directory"},
              {deep + "/" + settings::gameExeName, "File name too long"}};
  for (const auto& [exe, reason] : kept) {
    const platform::ProcessStart start = startFrom(exe);
    EXPECT_FALSE(start.started) << reason;
    EXPECT_FALSE(start.badExecutable) << reason;
    EXPECT_EQ(start.reason, reason);
  }
  EXPECT_TRUE(fs::exists(root_ / "not-executable")) << "a start never removes anything itself";
}

}  // namespace
