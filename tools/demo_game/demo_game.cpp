// The demo game: shows that the launcher started it, from where and with what. It prints its
// working folder and arguments and appends the same as one JSON line to demo_game_runs.txt in
// its working folder, so a script or a test can check every start afterwards.
//
// DEMO_GAME_STAY_MS in the environment keeps it running that long, to stand for a game that is
// still open when the launcher runs again.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

namespace {

constexpr const char* kRunsFile = "demo_game_runs.txt";

std::string RunRecord(const std::string& folder, int argc, char** argv) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("cwd");
  writer.String(folder.c_str());
  writer.Key("pid");
  writer.Int64(static_cast<std::int64_t>(getpid()));
  writer.Key("args");
  writer.StartArray();
  for (int i = 1; i < argc; ++i) writer.String(argv[i]);
  writer.EndArray();
  writer.EndObject();
  return buffer.GetString();
}

void StayIfAsked() {
  const char* stay = std::getenv("DEMO_GAME_STAY_MS");
  if (stay == nullptr) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(stay)));
}

}  // namespace

int main(int argc, char** argv) {
  std::error_code error;
  const std::string folder = std::filesystem::current_path(error).string();
  std::cout << "demo game started in " << folder << " with " << (argc - 1) << " argument(s):";
  for (int i = 1; i < argc; ++i) std::cout << " [" << argv[i] << "]";
  std::cout << std::endl;

  std::ofstream runs(kRunsFile, std::ios::app);
  runs << RunRecord(folder, argc, argv) << "\n";
  runs.close();
  if (!runs) std::cerr << "demo game: cannot record the run in " << kRunsFile << "\n";
  StayIfAsked();
  return 0;
}
