#include "voduzazi/helpers/retry_request_interceptor.hpp"

#include <cmath>
#include <limits>
#include <stdexcept>
#include <utility>

#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi {
namespace {

helpers::HTTPResponse settle(RetryRequestInterceptor::Outcome outcome) {
  if (auto* error = std::get_if<std::exception_ptr>(&outcome)) std::rethrow_exception(*error);
  return std::get<helpers::HTTPResponse>(std::move(outcome));
}

}  // namespace

// The tables are never destroyed: a request retried while the process exits still reads them.
const std::unordered_set<HTTPMethod>& RetryRequestInterceptor::defaultRetryableHTTPMethods() {
  static const auto* const methods =
      new std::unordered_set<HTTPMethod>{HTTPMethod::delete_, HTTPMethod::get, HTTPMethod::head,
                                         HTTPMethod::options, HTTPMethod::put, HTTPMethod::trace};
  return *methods;
}

const std::unordered_set<int>& RetryRequestInterceptor::defaultRetryableHTTPStatusCodes() {
  static const auto* const codes = new std::unordered_set<int>{408, 500, 502, 503, 504};
  return *codes;
}

const std::unordered_set<URLError::Code>& RetryRequestInterceptor::defaultRetryableURLErrorCodes() {
  using C = URLError::Code;
  static const auto* const codes = new std::unordered_set<URLError::Code>{
      C::backgroundSessionInUseByAnotherProcess,
      C::backgroundSessionWasDisconnected,
      C::badServerResponse,
      C::callIsActive,
      C::cannotConnectToHost,
      C::cannotFindHost,
      C::cannotLoadFromNetwork,
      C::dataNotAllowed,
      C::dnsLookupFailed,
      C::downloadDecodingFailedMidStream,
      C::downloadDecodingFailedToComplete,
      C::internationalRoamingOff,
      C::networkConnectionLost,
      C::notConnectedToInternet,
      C::secureConnectionFailed,
      C::serverCertificateHasBadDate,
      C::serverCertificateNotYetValid,
      C::timedOut,
  };
  return *codes;
}

RetryRequestInterceptor::RetryRequestInterceptor() : RetryRequestInterceptor(Settings{}) {}

RetryRequestInterceptor::RetryRequestInterceptor(Settings settings,
                                                 std::shared_ptr<SleepClock> clock)
    : settings_(std::move(settings)), clock_(clock ? std::move(clock) : currentClock()) {
  if (settings_.exponentialBackoffBase < 2) {
    throw std::invalid_argument("RetryRequestInterceptor needs an exponential backoff base >= 2");
  }
}

helpers::HTTPResponse RetryRequestInterceptor::intercept(const helpers::HTTPRequest& request,
                                                         const HTTPNext& next) {
  return retry(request, 1, next);
}

bool RetryRequestInterceptor::shouldRetry(const helpers::HTTPRequest& request,
                                          const Outcome& outcome) const {
  if (!settings_.retryableHTTPMethods.contains(request.method)) return false;
  if (const auto* response = std::get_if<helpers::HTTPResponse>(&outcome)) {
    return settings_.retryableHTTPStatusCodes.contains(response->statusCode());
  }
  try {
    std::rethrow_exception(std::get<std::exception_ptr>(outcome));
  } catch (const URLError& error) {
    return settings_.retryableErrorCodes.contains(error.code());
  } catch (...) {
    return false;
  }
}

std::uint64_t RetryRequestInterceptor::pauseSeconds(int retryCount) const {
  const double delay = std::pow(static_cast<double>(settings_.exponentialBackoffBase), retryCount) *
                       settings_.exponentialBackoffScale;
  if (!(delay >= 1)) return 0;  // also NaN and negative scales
  // The pause is counted in nanoseconds downstream: whole seconds * 1e9 must fit in 64 bits.
  constexpr double maximum =
      static_cast<double>(std::numeric_limits<std::uint64_t>::max() / 1'000'000'000ULL);
  if (delay >= maximum) return static_cast<std::uint64_t>(maximum);
  return static_cast<std::uint64_t>(delay);
}

helpers::HTTPResponse RetryRequestInterceptor::retry(const helpers::HTTPRequest& request,
                                                     int retryCount, const HTTPNext& next) const {
  for (;; ++retryCount) {
    Outcome outcome = [&]() -> Outcome {
      try {
        return next(request);
      } catch (...) {
        return std::current_exception();
      }
    }();
    if (retryCount >= settings_.retryLimit || !shouldRetry(request, outcome)) {
      return settle(std::move(outcome));
    }
    if (const std::uint64_t seconds = pauseSeconds(retryCount); seconds > 0) {
      try {
        clock_->sleep(static_cast<double>(seconds));
      } catch (const CancellationError&) {
        // Handled just below: a cancelled pause ends the retries.
      }
    }
    if (this_task::isCancelled()) return settle(std::move(outcome));
  }
}

}  // namespace voduzazi
