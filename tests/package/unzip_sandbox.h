// A scratch folder with an archive path, a destination inside it, and the calls a run made.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "package/unzip_callback.h"

struct UnzipCall {
  std::string status;
  std::string payload;
  long long done = 0;
  long long total = 0;
  bool operator==(const UnzipCall&) const = default;
};

void PrintTo(const UnzipCall& call, std::ostream* out);

class UnzipSandbox : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs ZipUtil::UnzipAll on archive() into destination(); the calls land in calls().
  bool Unzip();
  bool UnzipInto(const std::string& destination);
  UnzipCallback Recorder();

  std::filesystem::path root() const { return root_; }
  std::filesystem::path archive() const { return root_ / "package.zip"; }
  std::filesystem::path destination() const { return root_ / "data"; }
  const std::vector<UnzipCall>& calls() const { return calls_; }
  const UnzipCall& last() const { return calls_.back(); }
  // Every path below root(), relative to it, with "/" between components.
  std::set<std::string> Tree() const;
  std::string Read(const std::string& relative) const;

 private:
  std::filesystem::path root_;
  std::vector<UnzipCall> calls_;
};
