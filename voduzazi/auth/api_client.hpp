// APIClient: sends the auth client's requests with the configured headers and the API version,
// and turns every unsuccessful answer into an AuthError, ending the stored session when the
// server says it no longer knows it. makeAuthHTTPClient builds the HTTP client it sends through.
//
//   APIClient api{clientID, APIClient::defaultSessionCleanupErrorCodes()};
//   helpers::HTTPResponse response = api.execute(request);        // AuthError on 4xx/5xx
//   helpers::HTTPResponse mine = api.authorizedExecute(request);   // with the session's bearer
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "voduzazi/auth/auth_client_configuration.hpp"
#include "voduzazi/auth/auth_error.hpp"
#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/helpers/http_request.hpp"

namespace voduzazi::auth {

// A value type holding only the client id; it reads the client's registry entry at every call.
// Safe from any thread.
struct APIClient {
  // What an error body that says the session is gone does besides failing.
  enum class SessionCleanup {
    removeAndAnnounce,  // delete the stored session and emit SIGNED_OUT
    none,               // the caller has signed the device out already
  };

  std::int64_t clientID = 0;
  std::vector<ErrorCode> sessionCleanupErrorCodes;

  // "session_not_found", "session_expired", "refresh_token_not_found",
  // "refresh_token_already_used".
  static std::vector<ErrorCode> defaultSessionCleanupErrorCodes();

  // Sends `request` with the configured headers under its own (its own win on equal names) and
  // "X-Voduzazi-Api-Version: 2024-01-01" unless one is set. Returns a 2xx response; throws
  // handleError's AuthError for any other status and the transport's error unchanged.
  helpers::HTTPResponse execute(helpers::HTTPRequest request,
                                SessionCleanup cleanup = SessionCleanup::removeAndAnnounce) const;

  // As execute, with "Authorization: Bearer <access token>" of the current session (refreshed
  // first when about to expire). Throws the session manager's error before sending anything.
  helpers::HTTPResponse authorizedExecute(helpers::HTTPRequest request) const;

  // The error an unsuccessful response stands for. For the session-cleanup codes it first
  // deletes the stored session and emits SIGNED_OUT (unless `cleanup` is none), then gives
  // sessionMissing. Never throws.
  AuthError handleError(const helpers::HTTPResponse& response,
                        SessionCleanup cleanup = SessionCleanup::removeAndAnnounce) const;
};

// The auth client's HTTP client: the logger interceptor outermost (when there is a logger), then
// retries of transient failures for POST too, except for the refresh-token grant (the server may
// have rotated the token already, and a second try would end the session).
std::shared_ptr<HTTPClient> makeAuthHTTPClient(const AuthClientConfiguration& configuration);

}  // namespace voduzazi::auth
