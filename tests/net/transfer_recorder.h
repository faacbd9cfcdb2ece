// Collects what a TransferCallback receives, from any thread.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/transfer_callback.h"

struct TransferCall {
  std::string status;
  std::string payload;
  double first = 0;
  double second = 0;
  std::thread::id thread;
};

class TransferRecorder {
 public:
  TransferCallback Callback() {
    return [this](const std::string& status, const std::string& payload, double first, double second) {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back({status, payload, first, second, std::this_thread::get_id()});
      if (!IsProgress(status)) changed_.notify_all();
    };
  }

  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
  }

  std::vector<TransferCall> Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  std::vector<TransferCall> Progress() const {
    std::vector<TransferCall> progress;
    for (auto& call : Calls()) {
      if (call.status == "trans") progress.push_back(call);
    }
    return progress;
  }
  // Calls that report progress ("trans", and "restart" from the start of the file) rather than an end.
  static bool IsProgress(const std::string& status) { return status == "trans" || status == "restart"; }
  // Every call that is not progress: a finished transfer has exactly one, and it is the last call.
  std::vector<TransferCall> Finals() const {
    std::vector<TransferCall> finals;
    for (auto& call : Calls()) {
      if (!IsProgress(call.status)) finals.push_back(call);
    }
    return finals;
  }
  bool FinalIsLast() const {
    const auto calls = Calls();
    return !calls.empty() && !IsProgress(calls.back().status);
  }
  // Waits for the final call of a transfer running on another thread.
  bool WaitForFinal(std::chrono::seconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, limit, [this] {
      for (const auto& call : calls_) {
        if (!IsProgress(call.status)) return true;
      }
      return false;
    });
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<TransferCall> calls_;
};

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Bytes that differ at every position within a period longer than any block size.
inline std::string PatternBytes(std::size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  unsigned state = seed;
  for (auto& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}

// Compares file contents without printing megabytes of binary on failure.
inline ::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                       << ", first difference at byte " << at;
}
