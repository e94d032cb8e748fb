// RetryRequestInterceptor: repeats idempotent requests after transient failures (listed URL
// error codes or status codes), pausing base^attempt * scale whole seconds between attempts.
//
//   auto retry = std::make_shared<RetryRequestInterceptor>();          // 2 attempts, 1 s pause
//   RetryRequestInterceptor::Settings settings;
//   settings.retryLimit = 4;                                           // pauses 1, 2 and 4 s
//   auto patient = std::make_shared<RetryRequestInterceptor>(settings);
//   HTTPClient client(fetch, {logging, retry});
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <unordered_set>
#include <variant>

#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/helpers/sleep_clock.hpp"
#include "voduzazi/helpers/url_error.hpp"

namespace voduzazi {

// Shared objects: safe; each call carries its own attempt count. Lifetime: keeps its clock.
class RetryRequestInterceptor : public HTTPClientInterceptor {
 public:
  static constexpr int defaultRetryLimit = 2;
  static constexpr std::uint64_t defaultExponentialBackoffBase = 2;
  static constexpr double defaultExponentialBackoffScale = 0.5;
  // DELETE, GET, HEAD, OPTIONS, PUT, TRACE.
  static const std::unordered_set<HTTPMethod>& defaultRetryableHTTPMethods();
  // 408, 500, 502, 503, 504.
  static const std::unordered_set<int>& defaultRetryableHTTPStatusCodes();
  // The 18 transient transport failures (timed out, cannot connect, connection lost, ...).
  static const std::unordered_set<URLError::Code>& defaultRetryableURLErrorCodes();

  struct Settings {
    int retryLimit = defaultRetryLimit;  // attempts made: max(1, retryLimit)
    std::uint64_t exponentialBackoffBase = defaultExponentialBackoffBase;  // at least 2
    double exponentialBackoffScale = defaultExponentialBackoffScale;
    std::unordered_set<HTTPMethod> retryableHTTPMethods = defaultRetryableHTTPMethods();
    std::unordered_set<int> retryableHTTPStatusCodes = defaultRetryableHTTPStatusCodes();
    std::unordered_set<URLError::Code> retryableErrorCodes = defaultRetryableURLErrorCodes();
  };

  // The outcome of one attempt.
  using Outcome = std::variant<helpers::HTTPResponse, std::exception_ptr>;

  // Pauses sleep on `clock` (the current clock when null). Throws std::invalid_argument for a
  // base below 2.
  RetryRequestInterceptor();
  explicit RetryRequestInterceptor(Settings settings, std::shared_ptr<SleepClock> clock = nullptr);

  const Settings& settings() const noexcept { return settings_; }

  helpers::HTTPResponse intercept(const helpers::HTTPRequest& request,
                                  const HTTPNext& next) override;

  // Whether `outcome` of `request` is worth another attempt (ignoring the attempt count).
  bool shouldRetry(const helpers::HTTPRequest& request, const Outcome& outcome) const;

  // Runs attempt `retryCount` and, while allowed, the following ones; returns the last response
  // or rethrows the last error. Cancelling the calling task during a pause ends the retries.
  helpers::HTTPResponse retry(const helpers::HTTPRequest& request, int retryCount,
                              const HTTPNext& next) const;

  // The whole seconds paused after attempt `retryCount`; saturates instead of overflowing.
  std::uint64_t pauseSeconds(int retryCount) const;

 private:
  const Settings settings_;
  const std::shared_ptr<SleepClock> clock_;
};

}  // namespace voduzazi
