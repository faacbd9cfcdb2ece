// A stand-in game: records its working folder and arguments, then stays alive until stopped.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

int main(int argc, char** argv) {
  {
    std::ofstream out("started.txt.tmp");
    out << std::filesystem::current_path().string() << "\n";
    for (int i = 1; i < argc; ++i) out << "[" << argv[i] << "]\n";
  }
  std::filesystem::rename("started.txt.tmp", "started.txt");
  std::this_thread::sleep_for(std::chrono::seconds(30));
  return 0;
}
