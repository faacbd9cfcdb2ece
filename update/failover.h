// Fetching one small document from the first content server that answers.
//
// Policy: one attempt at a time. After an initial pause the loop looks at the attempt state
// every poll interval; when no attempt is in flight it starts the next one, rotating over the
// URLs and starting at position 1 (modulo the count: the only URL when there is one, the
// second when there are several). The budget is the sum of the poll pauses only; every attempt
// ends within the attempt time-out (connection and answer together), so a server that hangs or
// trickles costs at most that much before the next one is tried.
//
// Back-off per URL: after a failed attempt a URL waits before its next one, the wait doubling
// from one poll interval with each failure in a row, up to a quarter of the budget; the loop
// takes the next URL in the rotation whose wait is over. So a server that answers 404, 403 or
// 5xx gets about eight attempts per budget from each player, not one per poll, while a healthy
// URL is still tried at once. Each failed attempt's outcome (HTTP status or libcurl error) is
// written to standard output. The caller hears
// "fail"/"onTimeout" per failed attempt (408 counts as a time-out), then exactly one of "succ"
// (with the body) or "allTimeout"; anything an attempt reports after that is dropped.
#pragma once

#include <functional>
#include <string>
#include <vector>

// (status, text): "succ" with the body, "fail"/"onTimeout" with the request's message,
// "allTimeout" with "urls invalid", or "fail" with "urls invalid" for an empty list.
using FailoverCallback = std::function<void(const std::string& status, const std::string& text)>;

// What the failover thread owns. The production timings are the defaults; tests pass
// scaled-down ones so the 12.6-second budget does not slow them.
struct FailoverSettings {
  int initialDelayMs = 500;  // pause before the first attempt
  int pollIntervalMs = 100;  // pause between two looks at the attempt state
  int allTimeoutMs = 12000;  // budget, counted as the sum of the poll pauses
  FailoverCallback callback;
  std::vector<std::string> urls;
  int attemptTimeout = 6000;  // milliseconds: bounds each attempt's connection and whole request
};

// Message of the empty list and of the spent budget.
inline constexpr const char* kUrlsInvalid = "urls invalid";

// One absolute URL per base URL, in order: base, "/" when the base is non-empty and lacks one,
// then the relative path (not trimmed).
std::vector<std::string> BuildUrlList(const std::vector<std::string>& baseUrls, const std::string& relativePath);

// Returns at once; the outcome arrives on worker threads as the header comment describes.
// `timings` supplies the delays, budget and attempt time-out; its urls and callback are ignored.
void RequestWithFailover(const std::vector<std::string>& urls, const FailoverCallback& callback,
                         const FailoverSettings& timings = FailoverSettings{});
