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
#include "local_backend/detail/auth_common.hpp"
#include "local_backend/detail/crypto.hpp"
#include "local_backend/jwt.hpp"
#include "local_backend/password_hash.hpp"

namespace local_backend {

using namespace detail;  // the service's shared pieces
using boost::json::object;

namespace {

// The path below "/auth/v1" in its segments ("factors/abc/verify" gives three).
std::vector<std::string> segmentsOf(const std::string& path) {
  std::vector<std::string> segments;
  std::size_t start = 0;
  while (start <= path.size()) {
    const auto slash = path.find('/', start);
    const auto end = slash == std::string::npos ? path.size() : slash;
    segments.push_back(path.substr(start, end - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return segments;
}

AuthFailure notFound() {
  return AuthFailure{http::status::not_found, "not_found", "No such authentication endpoint"};
}

AuthFailure methodNotAllowed() {
  return AuthFailure{http::status::method_not_allowed, "method_not_allowed",
                     "This method is not allowed here"};
}

}  // namespace

AuthService::AuthService(Database& database, const TokenAuthority& tokens, AuthOptions options)
    : database_(database),
      tokens_(tokens),
      options_(std::move(options)),
      codes_(options_.otpLifetime, options_.maxOtpAttempts),
      authorizationCodes_(options_.authorizationCodeLifetime) {
  database_.transaction([](Connection& c) { auth_store::upgradeSchema(c); });
}

void AuthService::finish(Response& response) const {
  response.set("X-Voduzazi-Api-Version", kAuthApiVersion);
}

bool AuthService::isPublic(const Request& request, const RequestTarget& target) const {
  // The browser opens the sign-in page itself.
  return request.method() == http::verb::get && target.path == "authorize";
}

Response AuthService::handle(const Request& request, const RequestTarget& target) {
  try {
    return route(request, target, segmentsOf(target.path));
  } catch (const AuthFailure& failure) {
    return failureResponse(request, failure);
  }
}

Response AuthService::route(const Request& request, const RequestTarget& target,
                            const Segments& path) {
  const auto method = request.method();
  const bool get = method == http::verb::get;
  const bool post = method == http::verb::post;
  const std::string& first = path.front();
  if (path.size() == 1) {
    if (first == "signup") return post ? signUp(request) : throw methodNotAllowed();
    if (first == "token") return post ? grantToken(request, target) : throw methodNotAllowed();
    if (first == "logout") return post ? logout(request, target) : throw methodNotAllowed();
    if (first == "otp") return post ? sendOtp(request, target) : throw methodNotAllowed();
    if (first == "verify") return post ? verify(request) : throw methodNotAllowed();
    if (first == "resend") return post ? resend(request, target) : throw methodNotAllowed();
    if (first == "recover") return post ? recover(request, target) : throw methodNotAllowed();
    if (first == "reauthenticate") return get ? reauthenticate(request) : throw methodNotAllowed();
    if (first == "outbox") return get ? readOutbox(request, target) : throw methodNotAllowed();
    if (first == "authorize") return get ? authorize(request, target) : throw methodNotAllowed();
    if (first == "user") {
      if (get) return getUser(request);
      if (method == http::verb::put) return updateUser(request);
      throw methodNotAllowed();
    }
  }
  if (first == "user" && path.size() == 3 && path[1] == "identities") {
    return method == http::verb::delete_ ? unlinkIdentity(request, path[2])
                                         : throw methodNotAllowed();
  }
  if (first == "factors") return routeFactors(request, path);
  if (first == "admin") return routeAdmin(request, target, path);
  throw notFound();
}

Response AuthService::routeFactors(const Request& request, const Segments& path) {
  const auto method = request.method();
  if (path.size() == 1) {
    return method == http::verb::post ? enrollFactor(request) : throw methodNotAllowed();
  }
  if (path.size() == 2) {
    return method == http::verb::delete_ ? unenrollFactor(request, path[1])
                                         : throw methodNotAllowed();
  }
  if (path.size() == 3 && (path[2] == "challenge" || path[2] == "verify")) {
    if (method != http::verb::post) throw methodNotAllowed();
    return path[2] == "challenge" ? challengeFactor(request, path[1])
                                  : verifyFactor(request, path[1]);
  }
  throw notFound();
}

Response AuthService::routeAdmin(const Request& request, const RequestTarget& target,
                                 const Segments& path) {
  // Before anything else: the paths below "admin" answer only the service key.
  requireServiceRole(request, target, tokens_);
  const auto method = request.method();
  if (path.size() == 2 && path[1] == "invite") {
    return method == http::verb::post ? invite(request, target) : throw methodNotAllowed();
  }
  if (path.size() == 2 && path[1] == "users") {
    if (method == http::verb::get) return listUsers(request, target);
    if (method == http::verb::post) return createUser(request);
    throw methodNotAllowed();
  }
  if (path.size() == 3 && path[1] == "users") {
    if (method == http::verb::get) return getUserById(request, path[2]);
    if (method == http::verb::put) return updateUserById(request, path[2]);
    if (method == http::verb::delete_) return deleteUser(request, path[2]);
    throw methodNotAllowed();
  }
  throw notFound();
}

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
  auth_store::UserRecord user = newUser(email, std::nullopt, hashPassword(*password), metadata);
  if (options_.confirmEmail) {
    user.confirmationSentAt = now;
  } else {
    user.emailConfirmedAt = now;
  }
  try {
    return database_.transaction([&](Connection& c) {
      insertUserWithIdentity(c, user);
      if (options_.confirmEmail) {
        return jsonResponse(request, http::status::ok, userBody(c, user));
      }
      return jsonResponse(request, http::status::ok,
                          sessionBody(tokens_, startSession(c, user, "password")));
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
  if (grant != nullptr && *grant == "pkce") return pkceGrant(request);
  throw validationFailed("unsupported_grant_type: use \"password\", \"refresh_token\" or \"pkce\"");
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
                        sessionBody(tokens_, startSession(c, std::move(*current), "password")));
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
    return continueSession(c, std::move(*user), *outcome.session);
  });
  if (const auto* failure = std::get_if<AuthFailure>(&result)) throw *failure;
  const auto* issued = std::get_if<IssuedSession>(&result);
  return jsonResponse(request, http::status::ok, sessionBody(tokens_, *issued));
}

Response AuthService::getUser(const Request& request) {
  const Caller caller = requireUser(request, tokens_);
  return database_.transaction([&](Connection& c) {
    return jsonResponse(request, http::status::ok, userBody(c, requireLiveUser(c, caller)));
  });
}

Response AuthService::unlinkIdentity(const Request& request, const std::string& identityId) {
  const Caller caller = requireUser(request, tokens_);
  database_.transaction([&](Connection& c) {
    requireLiveUser(c, caller);
    const auto identities = auth_store::identitiesOf(c, caller.userId);
    const bool known = std::any_of(identities.begin(), identities.end(), [&](const auto& i) {
      return lowerCase(i.id) == lowerCase(identityId);
    });
    if (!known) {
      throw AuthFailure{http::status::not_found, "identity_not_found", "Identity doesn't exist"};
    }
    if (identities.size() == 1) {
      throw AuthFailure{http::status::unprocessable_entity, "single_identity_not_deletable",
                        "User must have at least 1 identity after unlinking"};
    }
    auth_store::deleteIdentity(c, caller.userId, lowerCase(identityId));
  });
  return jsonResponse(request, http::status::ok, boost::json::object{});
}

Response AuthService::pkceGrant(const Request& request) {
  const object body = parseBody(request);
  const auto code = stringField(body, "auth_code");
  const auto verifier = stringField(body, "code_verifier");
  if (!code || !verifier || code->empty() || verifier->empty()) {
    throw validationFailed("invalid request: both auth code and code verifier should be non-empty");
  }
  const CodeExchange exchange = authorizationCodes_.exchange(*code, *verifier, unixNow());
  switch (exchange.kind) {
    case CodeExchange::Kind::granted:
      break;
    case CodeExchange::Kind::unknownCode:
      throw AuthFailure{http::status::not_found, "flow_state_not_found",
                        "invalid flow state, no valid flow state found"};
    case CodeExchange::Kind::expired:
      throw AuthFailure{http::status::bad_request, "flow_state_expired",
                        "invalid flow state, flow state has expired"};
    case CodeExchange::Kind::badVerifier:
      throw AuthFailure{http::status::bad_request, "bad_code_verifier",
                        "code challenge does not match previously saved code verifier"};
  }
  return database_.transaction([&](Connection& c) {
    auto user = auth_store::findUserById(c, exchange.grant.userId);
    if (!user) throw AuthFailure{http::status::not_found, "user_not_found", "User not found"};
    return jsonResponse(
        request, http::status::ok,
        sessionBody(tokens_, startSession(c, std::move(*user), exchange.grant.signInMethod)));
  });
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
      return userBody(c, user);
    });
    return jsonResponse(request, http::status::ok, updated);
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
