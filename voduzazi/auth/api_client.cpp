#include "voduzazi/auth/api_client.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <utility>

#include "voduzazi/auth/api_version.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/auth/detail/auth_retry_interceptor.hpp"
#include "voduzazi/auth/detail/raw_api_error_response.hpp"
#include "voduzazi/helpers/logger_interceptor.hpp"

namespace voduzazi::auth {

namespace {

// Never destroyed: a request still under way at exit may read it.
const HTTPField::Name& authorizationHeader() {
  static const HTTPField::Name* const name = new HTTPField::Name("Authorization");
  return *name;
}

bool isSuccess(int statusCode) { return statusCode >= 200 && statusCode <= 299; }

// Servers of the 2024-01-01 API and later send the code under "code"; older ones under
// "error_code".
std::optional<ErrorCode> chosenCode(const detail::RawAPIErrorResponse& body,
                                    const HTTPFields& headers) {
  const auto version = apiVersionOf(headers);
  const auto& first = apiVersions().at(APIVersion::Name::_20240101);
  if (version && *version >= first.timestamp && body.code) return ErrorCode(*body.code);
  if (body.errorCode) return ErrorCode(*body.errorCode);
  return std::nullopt;
}

std::vector<std::string> weakReasons(const detail::RawAPIErrorResponse& body) {
  if (!body.weakPassword || !body.weakPassword->reasons) return {};
  return *body.weakPassword->reasons;
}

}  // namespace

std::vector<ErrorCode> APIClient::defaultSessionCleanupErrorCodes() {
  return {ErrorCode::sessionNotFound, ErrorCode::sessionExpired, ErrorCode::refreshTokenNotFound,
          ErrorCode::refreshTokenAlreadyUsed};
}

helpers::HTTPResponse APIClient::execute(helpers::HTTPRequest request,
                                         SessionCleanup cleanup) const {
  const Dependencies dependencies = Dependencies::get(clientID);
  request.headers = merging(makeHTTPFields(dependencies.configuration.headers), request.headers);
  if (!request.headers.contains(apiVersionHeaderName())) {
    request.headers.set(apiVersionHeaderName(), toString(APIVersion::Name::_20240101));
  }
  helpers::HTTPResponse response = dependencies.http->send(request);
  if (isSuccess(response.statusCode())) return response;
  throw handleError(response, cleanup);
}

helpers::HTTPResponse APIClient::authorizedExecute(helpers::HTTPRequest request) const {
  const Session session = Dependencies::get(clientID).sessionManager.session();
  request.headers.set(authorizationHeader(), "Bearer " + session.accessToken);
  return execute(std::move(request));
}

AuthError APIClient::handleError(const helpers::HTTPResponse& response,
                                 SessionCleanup cleanup) const {
  const Dependencies dependencies = Dependencies::get(clientID);
  std::optional<detail::RawAPIErrorResponse> body;
  try {
    body = dependencies.configuration.decoder->decode<detail::RawAPIErrorResponse>(response.data());
  } catch (const std::exception&) {
    return AuthError::api("Unexpected error", ErrorCode::unexpectedFailure, response.data(),
                          response.underlyingResponse());
  }
  const std::string message = body->messageText();
  const std::optional<ErrorCode> code = chosenCode(*body, response.headers());
  if (!code) {
    if (body->weakPassword) return AuthError::weakPassword(message, weakReasons(*body));
    return AuthError::api(message, ErrorCode::unknown, response.data(),
                          response.underlyingResponse());
  }
  if (*code == ErrorCode::weakPassword) return AuthError::weakPassword(message, weakReasons(*body));
  const bool sessionGone =
      std::find(sessionCleanupErrorCodes.begin(), sessionCleanupErrorCodes.end(), *code) !=
      sessionCleanupErrorCodes.end();
  if (!sessionGone) {
    return AuthError::api(message, *code, response.data(), response.underlyingResponse());
  }
  if (cleanup == SessionCleanup::removeAndAnnounce) {
    dependencies.sessionManager.remove();
    dependencies.eventEmitter.emit(AuthChangeEvent::signedOut, std::nullopt);
  }
  return AuthError::sessionMissing();
}

std::shared_ptr<HTTPClient> makeAuthHTTPClient(const AuthClientConfiguration& configuration) {
  std::vector<std::shared_ptr<HTTPClientInterceptor>> interceptors;
  if (configuration.logger) {
    // The MFA verify body's "code" and the OTP "token" are one-time secrets.
    interceptors.push_back(std::make_shared<LoggerInterceptor>(
        configuration.logger, std::vector<std::string>{"code", "token"}));
  }
  interceptors.push_back(std::make_shared<detail::AuthRetryInterceptor>());
  return std::make_shared<HTTPClient>(configuration.fetch, std::move(interceptors));
}

}  // namespace voduzazi::auth
