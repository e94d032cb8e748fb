#include "local_backend/detail/auth_common.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <cctype>

#include "local_backend/detail/crypto.hpp"
#include "local_backend/jwt.hpp"
#include "local_backend/password_hash.hpp"

namespace local_backend::detail {

using boost::json::array;
using boost::json::object;
using boost::json::value;

constexpr std::size_t kMinPasswordLength = 6;

Response failureResponse(const Request& request, const AuthFailure& failure) {
  // "code" is read by clients of this API version, "error_code" by older ones.
  object body{{"code", failure.code}, {"error_code", failure.code}, {"msg", failure.what()}};
  if (!failure.weakReasons.empty()) {
    array reasons;
    for (const auto& reason : failure.weakReasons) reasons.emplace_back(reason);
    body["weak_password"] = object{{"reasons", std::move(reasons)}};
  }
  return jsonResponse(request, failure.status, body);
}

AuthFailure validationFailed(const std::string& message) {
  return AuthFailure{http::status::bad_request, "validation_failed", message};
}

object parseBody(const Request& request) {
  boost::system::error_code ec;
  value parsed = boost::json::parse(request.body(), ec);
  if (ec) {
    throw AuthFailure{http::status::bad_request,
                      "bad_json",
                      "Could not parse request body as JSON: " + ec.message(),
                      {}};
  }
  if (!parsed.is_object()) {
    throw AuthFailure{
        http::status::bad_request, "bad_json", "The request body must be a JSON object", {}};
  }
  return std::move(parsed.as_object());
}

std::optional<std::string> stringField(const object& body, std::string_view key) {
  const auto* field = body.if_contains(key);
  if (field == nullptr || field->is_null()) return std::nullopt;
  if (!field->is_string()) {
    throw AuthFailure{http::status::bad_request,
                      "validation_failed",
                      "\"" + std::string(key) + "\" must be a string",
                      {}};
  }
  return std::string(field->as_string());
}

bool boolField(const object& body, std::string_view key, bool fallback) {
  const auto* field = body.if_contains(key);
  if (field == nullptr || field->is_null()) return fallback;
  if (!field->is_bool()) throw validationFailed("\"" + std::string(key) + "\" must be a boolean");
  return field->as_bool();
}

object dataField(const object& body) {
  const auto* data = body.if_contains("data");
  if (data == nullptr || data->is_null()) return {};
  if (!data->is_object()) throw validationFailed("\"data\" must be a JSON object");
  return data->as_object();
}

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// A practical address check: one "@", a non-empty local part, a dotted host of letters, digits
// and hyphens, no blanks or control characters.
bool isValidEmail(std::string_view email) {
  const auto at = email.find('@');
  if (email.size() > 254 || at == 0 || at == std::string_view::npos || at > 64 ||
      email.find('@', at + 1) != std::string_view::npos) {
    return false;
  }
  for (const char c : email.substr(0, at)) {
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) return false;
  }
  const std::string_view host = email.substr(at + 1);
  if (host.empty() || host.front() == '.' || host.back() == '.' ||
      host.find('.') == std::string_view::npos || host.find("..") != std::string_view::npos) {
    return false;
  }
  return std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
  });
}

std::string requireEmail(const object& body) {
  const auto email = stringField(body, "email");
  if (!email || email->empty()) {
    throw AuthFailure{
        http::status::bad_request, "validation_failed", "An e-mail address is required", {}};
  }
  return checkedEmail(*email);
}

std::string checkedPhone(const std::string& phone) {
  const bool digitsOnly =
      phone.size() >= 9 && phone.size() <= 16 && phone[0] == '+' &&
      std::all_of(phone.begin() + 1, phone.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (!digitsOnly) throw validationFailed("Invalid phone number format (E.164 required)");
  return phone;
}

std::string checkedEmail(const std::string& email) {
  if (!isValidEmail(email)) {
    throw AuthFailure{http::status::bad_request,
                      "validation_failed",
                      "Unable to validate email address: invalid format",
                      {}};
  }
  return lowerCase(email);
}

std::size_t characterCount(std::string_view text) {
  return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
    return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }));
}

void checkPasswordStrength(const std::string& password) {
  if (characterCount(password) < kMinPasswordLength) {
    throw AuthFailure{http::status::unprocessable_entity,
                      "weak_password",
                      "Password should be at least 6 characters.",
                      {"length"}};
  }
}

object metadataObject(const std::string& text) {
  boost::system::error_code ec;
  value parsed = boost::json::parse(text, ec);
  return !ec && parsed.is_object() ? std::move(parsed.as_object()) : object{};
}

object appMetadata(const std::vector<auth_store::IdentityRecord>& identities,
                   const auth_store::UserRecord& user) {
  array providers;
  for (const auto& identity : identities) {
    if (std::find(providers.begin(), providers.end(), value(identity.provider)) ==
        providers.end()) {
      providers.emplace_back(identity.provider);
    }
  }
  if (providers.empty()) providers.emplace_back(user.email.empty() ? "phone" : "email");
  return object{{"provider", providers.front()}, {"providers", std::move(providers)}};
}

object identityBody(const auth_store::IdentityRecord& identity) {
  object data = metadataObject(identity.identityData);
  return object{{"id", identity.providerId},
                {"identity_id", identity.id},
                {"user_id", identity.userId},
                {"identity_data", std::move(data)},
                {"provider", identity.provider},
                {"created_at", identity.createdAt},
                {"last_sign_in_at", identity.createdAt},
                {"updated_at", identity.createdAt}};
}

object factorBody(const auth_store::FactorRecord& factor) {
  object body{{"id", factor.id},
              {"factor_type", factor.factorType},
              {"status", factor.status},
              {"created_at", factor.createdAt},
              {"updated_at", factor.updatedAt}};
  if (factor.friendlyName) body["friendly_name"] = *factor.friendlyName;
  return body;
}

void putOptional(object& target, std::string_view key, const std::optional<std::string>& text) {
  if (text) target[key] = *text;
}

auth_store::UserRecord newUser(std::string email, std::optional<std::string> phone,
                               std::string passwordHash, const object& metadata) {
  const std::string now = nowText();
  auth_store::UserRecord user;
  user.id = randomUuid();
  user.email = std::move(email);
  user.phone = std::move(phone);
  user.passwordHash = std::move(passwordHash);
  user.userMetadata = boost::json::serialize(metadata);
  user.createdAt = now;
  user.updatedAt = now;
  return user;
}

void insertUserWithIdentity(const Connection& c, const auth_store::UserRecord& user) {
  auth_store::insertUser(c, user);
  const bool byEmail = !user.email.empty();
  object data{{"sub", user.id}};
  if (byEmail) data["email"] = user.email;
  if (user.phone) data["phone"] = *user.phone;
  auth_store::insertIdentity(
      c, auth_store::IdentityRecord{randomUuid(), user.id, byEmail ? "email" : "phone", user.id,
                                    boost::json::serialize(data), user.createdAt});
}

object userBody(const Connection& c, const auth_store::UserRecord& user) {
  object body{
      {"id", user.id}, {"aud", "authenticated"}, {"role", "authenticated"}, {"email", user.email}};
  putOptional(body, "email_confirmed_at", user.emailConfirmedAt);
  putOptional(body, "confirmed_at",
              user.emailConfirmedAt ? user.emailConfirmedAt : user.phoneConfirmedAt);
  putOptional(body, "confirmation_sent_at", user.confirmationSentAt);
  putOptional(body, "last_sign_in_at", user.lastSignInAt);
  putOptional(body, "phone_confirmed_at", user.phoneConfirmedAt);
  body["phone"] = user.phone.value_or("");
  const auto identities = auth_store::identitiesOf(c, user.id);
  body["app_metadata"] = appMetadata(identities, user);
  array identityBodies;
  for (const auto& identity : identities) identityBodies.push_back(identityBody(identity));
  body["identities"] = std::move(identityBodies);
  array factors;
  for (const auto& factor : auth_store::factorsOf(c, user.id))
    factors.push_back(factorBody(factor));
  if (!factors.empty()) body["factors"] = std::move(factors);
  body["user_metadata"] = metadataObject(user.userMetadata);
  body["created_at"] = user.createdAt;
  body["updated_at"] = user.updatedAt;
  body["is_anonymous"] = false;
  return body;
}

std::string bearerToken(const Request& request) {
  const auto header = request.find(http::field::authorization);
  return header == request.end() ? std::string() : bearerTokenOf(header->value());
}

std::string nowText() {
  return formatTimestampZulu(
      std::chrono::time_point_cast<std::chrono::microseconds>(std::chrono::system_clock::now()));
}

IssuedSession startSession(const Connection& c, auth_store::UserRecord user,
                           const std::string& method) {
  const std::string now = nowText();
  user.lastSignInAt = now;
  user.updatedAt = now;
  auth_store::updateUser(c, user);
  const std::int64_t signedInAt = unixNow();
  const std::string sessionId = auth_store::createSession(c, user.id, signedInAt, now, method);
  auto session = auth_store::findSession(c, sessionId);
  return continueSession(c, std::move(user), std::move(*session));
}

IssuedSession continueSession(const Connection& c, auth_store::UserRecord user,
                              auth_store::SessionRecord session) {
  std::string refresh = auth_store::issueRefreshToken(c, session.id, nowText());
  object userJson = userBody(c, user);
  return IssuedSession{std::move(user), std::move(session), std::move(refresh),
                       std::move(userJson)};
}

object sessionBody(const TokenAuthority& tokens, const IssuedSession& issued) {
  const std::int64_t now = unixNow();
  const std::int64_t lifetime = tokens.accessTokenLifetime().count();
  array amr;
  if (issued.session.mfaVerifiedAt) {
    amr.push_back(object{{"method", "totp"}, {"timestamp", *issued.session.mfaVerifiedAt}});
  }
  amr.push_back(
      object{{"method", issued.session.signInMethod}, {"timestamp", issued.session.signedInAt}});
  const object claims{{"aud", "authenticated"},
                      {"exp", now + lifetime},
                      {"iat", now},
                      {"iss", "voduzazi-local/auth/v1"},
                      {"sub", issued.user.id},
                      {"email", issued.user.email},
                      {"phone", issued.user.phone.value_or("")},
                      {"app_metadata", issued.userJson.at("app_metadata")},
                      {"user_metadata", metadataObject(issued.user.userMetadata)},
                      {"role", "authenticated"},
                      {"aal", issued.session.aal},
                      {"amr", amr},
                      {"session_id", issued.session.id},
                      {"is_anonymous", false}};
  return object{{"access_token", tokens.sign(claims)},
                {"token_type", "bearer"},
                {"expires_in", lifetime},
                {"expires_at", now + lifetime},
                {"refresh_token", issued.refreshToken},
                {"user", issued.userJson}};
}

bool isUniqueViolation(const SqliteError& error) {
  return error.code() == SQLITE_CONSTRAINT_UNIQUE || error.code() == SQLITE_CONSTRAINT_PRIMARYKEY;
}

// The signed-in caller behind the bearer token, with a session that still exists.
Caller requireUser(const Request& request, const TokenAuthority& tokens) {
  const std::string token = bearerToken(request);
  if (token.empty()) {
    throw AuthFailure{http::status::unauthorized,
                      "no_authorization",
                      "This endpoint requires a Bearer token",
                      {}};
  }
  try {
    Caller caller = tokens.callerFromToken(token);
    if (caller.role != Role::authenticated) {
      throw AuthFailure{
          http::status::forbidden, "bad_jwt", "invalid JWT: the token does not name a user", {}};
    }
    return caller;
  } catch (const JwtError& error) {
    throw AuthFailure{
        http::status::forbidden, "bad_jwt", std::string("invalid JWT: ") + error.what(), {}};
  }
}

AuthFailure sessionGone() {
  return AuthFailure{http::status::forbidden,
                     "session_not_found",
                     "Session from session_id claim in JWT does not exist",
                     {}};
}

auth_store::UserRecord requireLiveUser(const Connection& c, const Caller& caller) {
  if (!auth_store::findSession(c, caller.sessionId)) throw sessionGone();
  auto user = auth_store::findUserById(c, caller.userId);
  if (!user) throw AuthFailure{http::status::not_found, "user_not_found", "User not found", {}};
  return std::move(*user);
}

void requireServiceRole(const Request& request, const RequestTarget& target,
                        const TokenAuthority& tokens) {
  std::string credential = bearerToken(request);
  if (credential.empty()) credential = apiKeyOf(request, target);
  if (credential.empty()) {
    throw AuthFailure{http::status::unauthorized, "no_authorization",
                      "This endpoint requires the service key"};
  }
  Role role = Role::anon;
  try {
    role = tokens.callerFromToken(credential).role;
  } catch (const JwtError& error) {
    throw AuthFailure{http::status::unauthorized, "bad_jwt",
                      std::string("invalid JWT: ") + error.what()};
  }
  if (role != Role::service) {
    throw AuthFailure{http::status::forbidden, "not_admin", "User not allowed"};
  }
}

}  // namespace local_backend::detail
