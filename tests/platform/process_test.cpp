#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
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

}  // namespace
