// What the authentication service's endpoints share: the refusal type and its JSON body, request
// body readers, the user and session bodies, and who the caller is.
//
//   const object body = parseBody(request);                       // AuthFailure bad_json
//   const Caller caller = requireUser(request, tokens);           // AuthFailure no_authorization
//   return jsonResponse(request, http::status::ok, userBody(c, user));
#pragma once

#include <boost/json/object.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "local_backend/auth_store.hpp"
#include "local_backend/database.hpp"
#include "local_backend/http_message.hpp"
#include "local_backend/router.hpp"
#include "local_backend/token_authority.hpp"

namespace local_backend::detail {

// A refusal with the error code the clients switch on; `what()` is the message.
class AuthFailure : public std::runtime_error {
 public:
  AuthFailure(http::status status, std::string code, const std::string& message,
              std::vector<std::string> weakReasons = {})
      : std::runtime_error(message),
        status(status),
        code(std::move(code)),
        weakReasons(std::move(weakReasons)) {}

  http::status status;
  std::string code;
  std::vector<std::string> weakReasons;
};

// 400 "validation_failed" with `message`.
AuthFailure validationFailed(const std::string& message);

Response failureResponse(const Request& request, const AuthFailure& failure);

// The request body as a JSON object; AuthFailure bad_json otherwise.
boost::json::object parseBody(const Request& request);
// A string field; nothing when absent or null, AuthFailure validation_failed for another type.
std::optional<std::string> stringField(const boost::json::object& body, std::string_view key);
// A boolean field, `fallback` when absent or null.
bool boolField(const boost::json::object& body, std::string_view key, bool fallback);
// "data": a JSON object, or an empty one when absent or null.
boost::json::object dataField(const boost::json::object& body);

std::string lowerCase(std::string text);
// The body's "email", lower-cased; AuthFailure validation_failed when missing or malformed.
std::string requireEmail(const boost::json::object& body);
// An e-mail address checked as requireEmail does.
std::string checkedEmail(const std::string& email);
// "+" and 8 to 15 digits; AuthFailure validation_failed otherwise.
std::string checkedPhone(const std::string& phone);
void checkPasswordStrength(const std::string& password);
boost::json::object metadataObject(const std::string& text);

// A new user: a random id, now as its creation time, nothing confirmed yet.
auth_store::UserRecord newUser(std::string email, std::optional<std::string> phone,
                               std::string passwordHash, const boost::json::object& metadata);
// Inserts the user with its "email" or "phone" identity. Throws SqliteError for a taken address.
void insertUserWithIdentity(const Connection& c, const auth_store::UserRecord& user);

// The user as the API shows it, with its identities and factors.
boost::json::object userBody(const Connection& c, const auth_store::UserRecord& user);

std::string bearerToken(const Request& request);
std::string nowText();

// Everything a session answer needs, read inside one transaction.
struct IssuedSession {
  auth_store::UserRecord user;
  auth_store::SessionRecord session;
  std::string refreshToken;
  boost::json::object userJson;
};

// Signs the user in with a new session; `method` is the first "amr" entry.
IssuedSession startSession(const Connection& c, auth_store::UserRecord user,
                           const std::string& method);
// A new refresh token for an existing session, with the user as it is now.
IssuedSession continueSession(const Connection& c, auth_store::UserRecord user,
                              auth_store::SessionRecord session);
boost::json::object sessionBody(const TokenAuthority& tokens, const IssuedSession& issued);

bool isUniqueViolation(const SqliteError& error);

// The signed-in caller behind the bearer token; AuthFailure 401/403 otherwise.
Caller requireUser(const Request& request, const TokenAuthority& tokens);
// The caller's user, while the caller's session exists.
auth_store::UserRecord requireLiveUser(const Connection& c, const Caller& caller);
// Only the service key (as bearer token, or as the API key without one) passes: 401 without any
// credential, 403 "not_admin" for a user's token or the anonymous key.
void requireServiceRole(const Request& request, const RequestTarget& target,
                        const TokenAuthority& tokens);

}  // namespace local_backend::detail
