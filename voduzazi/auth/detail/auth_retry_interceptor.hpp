// The auth client's retry policy: the SDK's retry interceptor with POST retried too, except for
// the refresh-token grant, which is sent exactly once.
#pragma once

#include <memory>

#include "voduzazi/helpers/retry_request_interceptor.hpp"

namespace voduzazi::auth::detail {

// Shared objects: safe (no state besides the wrapped interceptor).
class AuthRetryInterceptor final : public HTTPClientInterceptor {
 public:
  // Pauses sleep on `clock` (the current clock when null).
  explicit AuthRetryInterceptor(std::shared_ptr<SleepClock> clock = nullptr);

  helpers::HTTPResponse intercept(const helpers::HTTPRequest& request,
                                  const HTTPNext& next) override;

  // A POST to ".../token" with "grant_type=refresh_token": the server spends the token on the
  // first arrival, so a retry after a lost answer would only be refused as already used.
  static bool isRefreshTokenGrant(const helpers::HTTPRequest& request);

 private:
  RetryRequestInterceptor retry_;
};

}  // namespace voduzazi::auth::detail
