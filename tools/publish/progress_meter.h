// Progress of a long packaging run, as lines on an error stream, at most twice a second.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>

namespace publish {

class ProgressMeter {
 public:
  ProgressMeter(std::ostream& out, std::size_t totalFiles, std::uint64_t totalBytes);

  // `filesDone` files finished plus `bytesDone` bytes in all; prints when enough time has passed.
  void Update(std::size_t filesDone, std::uint64_t bytesDone);
  // The closing line, always printed.
  void Finish();

 private:
  void Print(std::size_t filesDone, std::uint64_t bytesDone);

  std::ostream& out_;
  std::size_t totalFiles_;
  std::uint64_t totalBytes_;
  std::chrono::steady_clock::time_point lastPrint_;
};

}  // namespace publish
