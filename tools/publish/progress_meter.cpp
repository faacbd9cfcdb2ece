#include "tools/publish/progress_meter.h"

#include <iomanip>

namespace publish {
namespace {

constexpr auto kInterval = std::chrono::milliseconds(500);

double Mebibytes(std::uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

}  // namespace

ProgressMeter::ProgressMeter(std::ostream& out, std::size_t totalFiles, std::uint64_t totalBytes)
    : out_(out), totalFiles_(totalFiles), totalBytes_(totalBytes), lastPrint_(std::chrono::steady_clock::now()) {}

void ProgressMeter::Update(std::size_t filesDone, std::uint64_t bytesDone) {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastPrint_ < kInterval) return;
  lastPrint_ = now;
  Print(filesDone, bytesDone);
}

void ProgressMeter::Finish() { Print(totalFiles_, totalBytes_); }

void ProgressMeter::Print(std::size_t filesDone, std::uint64_t bytesDone) {
  const int percent = totalBytes_ == 0 ? 100 : static_cast<int>(bytesDone * 100 / totalBytes_);
  out_ << "packing: " << filesDone << "/" << totalFiles_ << " files, " << std::fixed << std::setprecision(1)
       << Mebibytes(bytesDone) << "/" << Mebibytes(totalBytes_) << " MiB (" << percent << "%)\n"
       << std::flush;
}

}  // namespace publish
