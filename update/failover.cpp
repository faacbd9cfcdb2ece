#include "update/failover.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

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

// One URL's back-off: failed attempts in a row, and when (in budget time) the next may start.
struct UrlBackOff {
  int failures = 0;
  long long readyAtMs = 0;
};

void NoteFailure(UrlBackOff& url, long long elapsedMs, const FailoverSettings& settings, const std::string& name) {
  ++url.failures;
  const long long longest = std::max<long long>(settings.pollIntervalMs, settings.allTimeoutMs / 4);
  long long waitMs = settings.pollIntervalMs;
  for (int doubling = 1; doubling < url.failures && waitMs < longest; ++doubling) waitMs *= 2;
  waitMs = std::min(waitMs, longest);
  url.readyAtMs = elapsedMs + waitMs;
  std::printf("%s failed %d time(s) in a row; next attempt there in %lld ms\n", name.c_str(), url.failures, waitMs);
}

// The next URL after `index` in the rotation whose wait is over; -1 when none is.
int NextReadyUrl(const std::vector<UrlBackOff>& urls, std::size_t index, long long elapsedMs) {
  for (std::size_t step = 1; step <= urls.size(); ++step) {
    const std::size_t at = (index + step) % urls.size();
    if (urls[at].readyAtMs <= elapsedMs) return static_cast<int>(at);
  }
  return -1;
}

void StartAttempt(const std::shared_ptr<AttemptState>& state, const FailoverSettings& settings,
                  const std::string& url) {
  ++state->attemptsInFlight;
  const FailoverCallback callback = settings.callback;
  const int timeout = settings.attemptTimeout;
  RequestTask task;
  task.url = url;
  task.callback = [state, callback, url](const std::string& status, const std::string& payload, double, double) {
    if (status != status::kTrans && status != status::kSucc) {
      std::printf("attempt at %s failed: %s\n", url.c_str(), payload.c_str());
    }
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
  std::vector<UrlBackOff> backOff(settings.urls.size());
  int pending = -1;  // the URL of the attempt last started, until the loop sees it end
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
    // Over without success: `finished` would have ended the loop above.
    if (pending >= 0)
      NoteFailure(backOff[static_cast<std::size_t>(pending)], elapsedMs, settings,
                  settings.urls[static_cast<std::size_t>(pending)]);
    pending = -1;
    const int next = NextReadyUrl(backOff, index, elapsedMs);
    if (next < 0) continue;
    index = static_cast<std::size_t>(next);
    pending = next;
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
