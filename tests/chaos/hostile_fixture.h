// A sandbox for one launcher scenario: a scratch folder holding the launcher's working folder
// and, beside it, a canary file; the content server on the loopback port the test launcher was
// built for; releases published into the scratch folder; the launcher run to its end with its
// dialogs answered from a script.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "tests/chaos/chaos_release.h"
#include "tests/chaos/launcher_process.h"
#include "tests/support/content_server.h"
#include "tests/support/scratch_dir.h"

namespace chaos {

struct Outcome {
  bool ended = false;  // false: the deadline passed, or the test's watch killed it
  int exitCode = -1;
  int signal = 0;
  std::vector<Prompt> prompts;
  std::string output;
  std::string errors;
  std::vector<std::string> gameStarts;  // the chaos game's lines written during this run
  std::string abortReason;              // why the test's watch killed it, if it did
};

// Called every few milliseconds while the launcher runs; a non-empty answer kills the launcher
// and becomes the outcome's abortReason.
using Watch = std::function<std::string(LauncherProcess&)>;

class LauncherSandbox : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path Root() const { return scratch_.Path(); }
  std::filesystem::path Work() const { return scratch_.Path() / "work"; }
  std::filesystem::path Data() const;
  testsupport::ContentServer& Server() { return *server_; }

  // Builds, publishes and serves a release.
  Release PublishAndServe(const std::string& version, std::uint32_t seed,
                          const std::vector<std::string>& unsupported = {}, const ReleaseShape& shape = SmallShape());

  // Files the test itself wrote below Root() from now on are not the launcher's doing.
  void NoteOwnFiles();

  // Runs the launcher until it ends. Retry/Cancel boxes take the next of `answers` ("r" or "c"),
  // then Cancel; OK boxes are confirmed.
  Outcome RunLauncher(const std::vector<std::string>& answers, const Watch& watch = {}, int deadlineMs = 60000);

  // Nothing appeared in the scratch folder outside the working folder (the canary is untouched),
  // and nothing in the system's temporary folder carries `marker` in its name.
  void ExpectNothingWrittenOutside(const std::string& marker = "launcher-escape");

  // Every Retry/Cancel box shown; fails the test when none was.
  static void ExpectRetryBoxes(const Outcome& outcome, std::size_t atLeast = 1);
  // The launcher ended by its own quick exit, code 0, without a crash.
  static void ExpectOrderlyEnd(const Outcome& outcome);

  static ReleaseShape SmallShape();

 private:
  testsupport::ScratchDir scratch_{"launcher-hostile"};
  std::unique_ptr<testsupport::ContentServer> server_;
  std::set<std::string> before_;
};

// A watch that kills a launcher whose archive or memory grows past a bound.
Watch BoundedGrowth(const std::filesystem::path& file, std::uint64_t maxFileBytes, std::uint64_t maxResidentBytes);

}  // namespace chaos
