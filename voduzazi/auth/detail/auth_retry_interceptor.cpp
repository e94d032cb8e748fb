#include "voduzazi/auth/detail/auth_retry_interceptor.hpp"

#include <algorithm>
#include <boost/url/url_view.hpp>
#include <utility>

namespace voduzazi::auth::detail {

namespace {

RetryRequestInterceptor::Settings retryingPOST() {
  RetryRequestInterceptor::Settings settings;
  settings.retryableHTTPMethods.insert(HTTPMethod::post);
  return settings;
}

}  // namespace

AuthRetryInterceptor::AuthRetryInterceptor(std::shared_ptr<SleepClock> clock)
    : retry_(retryingPOST(), std::move(clock)) {}

helpers::HTTPResponse AuthRetryInterceptor::intercept(const helpers::HTTPRequest& request,
                                                      const HTTPNext& next) {
  if (isRefreshTokenGrant(request)) return next(request);
  return retry_.intercept(request, next);
}

bool AuthRetryInterceptor::isRefreshTokenGrant(const helpers::HTTPRequest& request) {
  if (request.method != HTTPMethod::post) return false;
  const boost::urls::url_view view = request.url;
  const auto segments = view.segments();
  if (segments.empty() || segments.back() != "token") return false;
  return std::any_of(request.query.begin(), request.query.end(), [](const URLQueryItem& item) {
    return item.name == "grant_type" && item.value == "refresh_token";
  });
}

}  // namespace voduzazi::auth::detail
