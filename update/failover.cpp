#include "update/failover.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <utility>

#include "app/status_words.h"
#include "net/background_tasks.h"
#include "net/content_paths.h"
#include "net/http_util.h"
#include "net/request_job.h"
#include "platform/clock.h"

namespace {

// Shared by the loop and every attempt continuation; shared ownership keeps it alive for an
// attempt that finishes after the loop has ended.
struct AttemptState {
  std::atomic<int> attemptsInFlight{0};
  // Set once the outcome is decided ("succ" delivered or the budget spent); later reports are dropped.
  std::atomic<bool> finished{false};
  // Attempt reports being delivered right now. "allTimeout" waits for them, so that nothing
  // reaches the caller after it.
  std::atomic<int> delivering{0};
};

// Passes on one "fail" or "onTimeout" unless the outcome is already decided.
void DeliverUnlessFinished(AttemptState& state, const FailoverCallback& callback, const char* status,
                           const std::string& text) {
  ++state.delivering;  // announced before `finished` is read; the loop reads them the other way round
  if (!state.finished.load()) callback(status, text);
  --state.delivering;
}

void OnAttemptResult(const std::shared_ptr<AttemptState>& state, const FailoverCallback& callback,
                     const std::string& status, const std::string& text) {
  if (state->finished.load()) return;
  if (status == status::kTrans) return;
  --state->attemptsInFlight;
  if (status == status::kSucc) {
    // Only one of "succ" and "allTimeout" may win the race to end the failover.
    if (state->finished.exchange(true)) return;
    callback(status::kSucc, text);
  } else if (status == status::kFail) {
    DeliverUnlessFinished(*state, callback, status::kFail, text);
  } else if (status == status::kTimeout) {
    DeliverUnlessFinished(*state, callback, status::kOnTimeout, text);
  }
  // "error": nothing to report; the loop starts the next attempt on its next pass.
}

void StartAttempt(const std::shared_ptr<AttemptState>& state, const FailoverSettings& settings,
                  const std::string& url) {
  ++state->attemptsInFlight;
  const FailoverCallback callback = settings.callback;
  const int timeout = settings.attemptTimeout;
  RequestTask task;
  task.url = url;
  task.callback = [state, callback](const std::string& status, const std::string& payload, double, double) {
    OnAttemptResult(state, callback, status, payload);
  };
  task.timeoutMs = timeout;
  try {
    RunRequest(std::move(task));
  } catch (const std::exception& error) {
    // No thread for this attempt: count it as over so the next pass tries again.
    std::printf("request thread failed to start: %s\n", error.what());
    --state->attemptsInFlight;
  }
}

void RunFailoverLoop(const FailoverSettings& settings) {
  platform::SleepMs(settings.initialDelayMs);
  auto state = std::make_shared<AttemptState>();
  long long elapsedMs = 0;
  std::size_t index = 0;
  for (bool firstPass = true;; firstPass = false) {
    if (!firstPass) {
      platform::SleepMs(settings.pollIntervalMs);
      elapsedMs += settings.pollIntervalMs;
    }
    if (state->finished.load()) return;
    if (elapsedMs > settings.allTimeoutMs) {
      if (state->finished.exchange(true)) return;  // an attempt succeeded just now
      while (state->delivering.load() > 0) platform::SleepMs(1);
      settings.callback(status::kAllTimeout, kUrlsInvalid);
      return;
    }
    if (state->attemptsInFlight.load() >= 1) continue;
    index = (index + 1) % settings.urls.size();
    StartAttempt(state, settings, settings.urls[index]);
  }
}

}  // namespace

std::vector<std::string> BuildUrlList(const std::vector<std::string>& baseUrls, const std::string& relativePath) {
  std::vector<std::string> urls;
  urls.reserve(baseUrls.size());
  for (const std::string& base : baseUrls) {
    urls.push_back(base.empty() ? relativePath : JoinUrl(base, relativePath));
  }
  return urls;
}

void RequestWithFailover(const std::vector<std::string>& urls, const FailoverCallback& callback,
                         const FailoverSettings& timings) {
  if (urls.empty()) {
    callback(status::kFail, kUrlsInvalid);
    return;
  }
  FailoverSettings settings = timings;
  settings.urls = urls;
  settings.callback = callback;
  RunDetached([settings = std::move(settings)] { RunFailoverLoop(settings); });
}
