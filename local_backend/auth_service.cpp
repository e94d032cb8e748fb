#include "local_backend/auth_service.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <boost/json/array.hpp>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <cctype>
#include <stdexcept>
#include <variant>

#include "local_backend/auth_store.hpp"
#include "local_backend/detail/crypto.hpp"
#include "local_backend/jwt.hpp"
#include "local_backend/password_hash.hpp"

namespace local_backend {

namespace {

using boost::json::array;
using boost::json::object;
using boost::json::value;

constexpr std::size_t kMinPasswordLength = 6;

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
  if (!isValidEmail(*email)) {
    throw AuthFailure{http::status::bad_request,
                      "validation_failed",
                      "Unable to validate email address: invalid format",
                      {}};
  }
  return lowerCase(*email);
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

object appMetadata() { return object{{"provider", "email"}, {"providers", array{"email"}}}; }

void putOptional(object& target, std::string_view key, const std::optional<std::string>& text) {
  if (text) target[key] = *text;
}

object userBody(const auth_store::UserRecord& user) {
  object body{
      {"id", user.id}, {"aud", "authenticated"}, {"role", "authenticated"}, {"email", user.email}};
  putOptional(body, "email_confirmed_at", user.emailConfirmedAt);
  putOptional(body, "confirmed_at", user.emailConfirmedAt);
  putOptional(body, "confirmation_sent_at", user.confirmationSentAt);
  putOptional(body, "last_sign_in_at", user.lastSignInAt);
  body["phone"] = "";
  body["app_metadata"] = appMetadata();
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

}  // namespace

AuthService::AuthService(Database& database, const TokenAuthority& tokens, AuthOptions options)
    : database_(database), tokens_(tokens), options_(options) {}

void AuthService::finish(Response& response) const {
  response.set("X-Voduzazi-Api-Version", kAuthApiVersion);
}

Response AuthService::handle(const Request& request, const RequestTarget& target) {
  const auto method = request.method();
  const std::string& path = target.path;
  try {
    if (path == "signup" && method == http::verb::post) return signUp(request);
    if (path == "token" && method == http::verb::post) return grantToken(request, target);
    if (path == "user" && method == http::verb::get) return getUser(request);
    if (path == "user" && method == http::verb::put) return updateUser(request);
    if (path == "logout" && method == http::verb::post) return logout(request, target);
    if (path == "signup" || path == "token" || path == "user" || path == "logout") {
      throw AuthFailure{http::status::method_not_allowed,
                        "method_not_allowed",
                        "This method is not allowed here",
                        {}};
    }
    throw AuthFailure{http::status::not_found, "not_found", "No such authentication endpoint", {}};
  } catch (const AuthFailure& failure) {
    return failureResponse(request, failure);
  }
}

namespace {

// Everything a session answer needs, read inside one transaction.
struct IssuedSession {
  auth_store::UserRecord user;
  auth_store::SessionRecord session;
  std::string refreshToken;
};

IssuedSession startSession(const Connection& c, auth_store::UserRecord user) {
  const std::string now = nowText();
  user.lastSignInAt = now;
  user.updatedAt = now;
  auth_store::updateUser(c, user);
  const std::int64_t signedInAt = unixNow();
  const std::string sessionId = auth_store::createSession(c, user.id, signedInAt, now);
  std::string refresh = auth_store::issueRefreshToken(c, sessionId, now);
  auth_store::SessionRecord session{sessionId, user.id, signedInAt};
  return IssuedSession{std::move(user), std::move(session), std::move(refresh)};
}

object sessionBody(const TokenAuthority& tokens, const IssuedSession& issued) {
  const std::int64_t now = unixNow();
  const std::int64_t lifetime = tokens.accessTokenLifetime().count();
  const object claims{
      {"aud", "authenticated"},
      {"exp", now + lifetime},
      {"iat", now},
      {"iss", "voduzazi-local/auth/v1"},
      {"sub", issued.user.id},
      {"email", issued.user.email},
      {"phone", ""},
      {"app_metadata", appMetadata()},
      {"user_metadata", metadataObject(issued.user.userMetadata)},
      {"role", "authenticated"},
      {"aal", "aal1"},
      {"amr", array{object{{"method", "password"}, {"timestamp", issued.session.signedInAt}}}},
      {"session_id", issued.session.id},
      {"is_anonymous", false}};
  return object{{"access_token", tokens.sign(claims)},
                {"token_type", "bearer"},
                {"expires_in", lifetime},
                {"expires_at", now + lifetime},
                {"refresh_token", issued.refreshToken},
                {"user", userBody(issued.user)}};
}

bool isUniqueViolation(const SqliteError& error) {
  return error.code() == SQLITE_CONSTRAINT_UNIQUE || error.code() == SQLITE_CONSTRAINT_PRIMARYKEY;
}

}  // namespace

Response AuthService::signUp(const Request& request) {
  const object body = parseBody(request);
  const std::string email = requireEmail(body);
  const auto password = stringField(body, "password");
  if (!password) {
    throw AuthFailure{
        http::status::bad_request, "validation_failed", "Signup requires a valid password", {}};
  }
  checkPasswordStrength(*password);
  object metadata;
  if (const auto* data = body.if_contains("data"); data != nullptr && !data->is_null()) {
    if (!data->is_object()) {
      throw AuthFailure{
          http::status::bad_request, "validation_failed", "\"data\" must be a JSON object", {}};
    }
    metadata = data->as_object();
  }
  const std::string now = nowText();
  auth_store::UserRecord user{detail::randomUuid(),
                              email,
                              hashPassword(*password),
                              boost::json::serialize(metadata),
                              now,
                              now,
                              std::nullopt,
                              std::nullopt,
                              std::nullopt};
  if (options_.confirmEmail) {
    user.confirmationSentAt = now;
  } else {
    user.emailConfirmedAt = now;
  }
  try {
    return database_.transaction([&](Connection& c) {
      auth_store::insertUser(c, user);
      if (options_.confirmEmail) {
        return jsonResponse(request, http::status::ok, userBody(user));
      }
      return jsonResponse(request, http::status::ok, sessionBody(tokens_, startSession(c, user)));
    });
  } catch (const SqliteError& error) {
    if (!isUniqueViolation(error)) throw;
    throw AuthFailure{
        http::status::unprocessable_entity, "user_already_exists", "User already registered", {}};
  }
}

Response AuthService::grantToken(const Request& request, const RequestTarget& target) {
  const std::string* grant = target.find("grant_type");
  if (grant != nullptr && *grant == "password") return passwordGrant(request);
  if (grant != nullptr && *grant == "refresh_token") return refreshGrant(request);
  throw AuthFailure{http::status::bad_request,
                    "validation_failed",
                    "unsupported_grant_type: use \"password\" or \"refresh_token\"",
                    {}};
}

Response AuthService::passwordGrant(const Request& request) {
  const object body = parseBody(request);
  const auto email = stringField(body, "email");
  const auto password = stringField(body, "password");
  if (!email || !password) {
    throw AuthFailure{http::status::bad_request,
                      "validation_failed",
                      "An e-mail address and a password are required",
                      {}};
  }
  const AuthFailure invalid{
      http::status::bad_request, "invalid_credentials", "Invalid login credentials", {}};
  const auto user = database_.transaction(
      [&](Connection& c) { return auth_store::findUserByEmail(c, lowerCase(*email)); });
  // An unknown address costs the same hash as a wrong password, so timing tells nothing.
  static const std::string decoy = hashPassword("decoy password");
  if (!verifyPassword(*password, user ? user->passwordHash : decoy) || !user) throw invalid;
  if (!user->emailConfirmedAt) {
    throw AuthFailure{http::status::bad_request, "email_not_confirmed", "Email not confirmed", {}};
  }
  return database_.transaction([&](Connection& c) {
    auto current = auth_store::findUserById(c, user->id);
    if (!current) throw invalid;
    return jsonResponse(request, http::status::ok,
                        sessionBody(tokens_, startSession(c, std::move(*current))));
  });
}

Response AuthService::refreshGrant(const Request& request) {
  const object body = parseBody(request);
  const auto token = stringField(body, "refresh_token");
  if (!token || token->empty()) {
    throw AuthFailure{
        http::status::bad_request, "validation_failed", "A refresh token is required", {}};
  }
  // The outcome is committed before any refusal: a reused token must end its session for good.
  const AuthFailure notFound{http::status::bad_request,
                             "refresh_token_not_found",
                             "Invalid Refresh Token: Refresh Token Not Found",
                             {}};
  const AuthFailure alreadyUsed{http::status::bad_request,
                                "refresh_token_already_used",
                                "Invalid Refresh Token: Already Used",
                                {}};
  using Result = std::variant<IssuedSession, AuthFailure>;
  const Result result = database_.transaction([&](Connection& c) -> Result {
    auto outcome = auth_store::spendRefreshToken(c, *token);
    if (outcome.kind == auth_store::RefreshOutcome::Kind::alreadyUsed) return alreadyUsed;
    if (outcome.kind != auth_store::RefreshOutcome::Kind::rotated) return notFound;
    auto user = auth_store::findUserById(c, outcome.session->userId);
    if (!user) return notFound;
    std::string refresh = auth_store::issueRefreshToken(c, outcome.session->id, nowText());
    return IssuedSession{std::move(*user), *outcome.session, std::move(refresh)};
  });
  if (const auto* failure = std::get_if<AuthFailure>(&result)) throw *failure;
  const auto* issued = std::get_if<IssuedSession>(&result);
  return jsonResponse(request, http::status::ok, sessionBody(tokens_, *issued));
}

namespace {

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

}  // namespace

Response AuthService::getUser(const Request& request) {
  const Caller caller = requireUser(request, tokens_);
  const auto user =
      database_.transaction([&](Connection& c) { return requireLiveUser(c, caller); });
  return jsonResponse(request, http::status::ok, userBody(user));
}

Response AuthService::updateUser(const Request& request) {
  const Caller caller = requireUser(request, tokens_);
  const object body = parseBody(request);
  std::optional<std::string> email;
  if (body.contains("email")) email = requireEmail(body);
  const auto password = stringField(body, "password");
  if (password) checkPasswordStrength(*password);
  const auto* data = body.if_contains("data");
  if (data != nullptr && !data->is_null() && !data->is_object()) {
    throw AuthFailure{
        http::status::bad_request, "validation_failed", "\"data\" must be a JSON object", {}};
  }
  // Hashing is slow: do it before taking the database.
  const std::optional<std::string> newHash =
      password ? std::optional<std::string>(hashPassword(*password)) : std::nullopt;
  auto current = database_.transaction([&](Connection& c) { return requireLiveUser(c, caller); });
  if (password && verifyPassword(*password, current.passwordHash)) {
    throw AuthFailure{http::status::unprocessable_entity,
                      "same_password",
                      "New password should be different from the old password.",
                      {}};
  }
  try {
    const auto updated = database_.transaction([&](Connection& c) {
      auto user = requireLiveUser(c, caller);
      if (email) user.email = *email;
      if (newHash) user.passwordHash = *newHash;
      if (data != nullptr && data->is_object()) {
        object metadata = metadataObject(user.userMetadata);
        for (const auto& [key, item] : data->as_object()) {
          if (item.is_null()) {
            metadata.erase(key);
          } else {
            metadata[key] = item;
          }
        }
        user.userMetadata = boost::json::serialize(metadata);
      }
      user.updatedAt = nowText();
      auth_store::updateUser(c, user);
      return user;
    });
    return jsonResponse(request, http::status::ok, userBody(updated));
  } catch (const SqliteError& error) {
    if (!isUniqueViolation(error)) throw;
    throw AuthFailure{http::status::unprocessable_entity,
                      "email_exists",
                      "A user with this email address has already been registered",
                      {}};
  }
}

Response AuthService::logout(const Request& request, const RequestTarget& target) {
  const Caller caller = requireUser(request, tokens_);
  auth_store::LogoutScope scope = auth_store::LogoutScope::global;
  if (const std::string* text = target.find("scope")) {
    if (*text == "local") {
      scope = auth_store::LogoutScope::local;
    } else if (*text == "others") {
      scope = auth_store::LogoutScope::others;
    } else if (*text != "global") {
      throw AuthFailure{http::status::bad_request,
                        "validation_failed",
                        "\"scope\" must be global, local or others",
                        {}};
    }
  }
  database_.transaction(
      [&](Connection& c) { auth_store::endSessions(c, caller.userId, caller.sessionId, scope); });
  return emptyResponse(request, http::status::no_content);
}

}  // namespace local_backend
