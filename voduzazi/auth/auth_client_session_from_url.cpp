// Sessions that come without a password: from a redirect URL, from a token pair, from a refresh.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <utility>

#include "voduzazi/auth/auth_client.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/auth/detail/callback_parameters.hpp"
#include "voduzazi/helpers/detail/log_redaction.hpp"
#include "voduzazi/helpers/jwt.hpp"

namespace voduzazi::auth {

namespace {

using Parameters = std::map<std::string, std::string>;

const std::string* find(const Parameters& params, const std::string& name) {
  const auto it = params.find(name);
  return it == params.end() ? nullptr : &it->second;
}

std::optional<std::string> optionalParameter(const Parameters& params, const std::string& name) {
  const std::string* value = find(params, name);
  return value ? std::optional<std::string>(*value) : std::nullopt;
}

// The whole text as a floating-point number; nothing for anything else.
std::optional<double> parseNumber(const std::string* text) {
  if (text == nullptr || text->empty()) return std::nullopt;
  double value = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
  if (error != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return value;
}

std::string plusAsSpace(std::string text) {
  std::replace(text.begin(), text.end(), '+', ' ');
  return text;
}

// A number claim as seconds; nothing for any other kind of value.
std::optional<double> numberClaim(const AnyJSON& claim) {
  if (const auto integer = claim.intValue()) return static_cast<double>(*integer);
  return claim.doubleValue();
}

double unixSeconds(Date date) {
  return std::chrono::duration<double>(date.time_since_epoch()).count();
}

}  // namespace

Session AuthClient::session(const boost::urls::url& from) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  const std::string text(from.buffer());
  // Redirect URLs carry tokens: the log gets them redacted.
  if (dependencies.logger) {
    dependencies.logger->debug("Received URL: " + voduzazi::detail::decodedURLText(from));
  }
  const Parameters params = detail::callbackParameters(from);
  if (dependencies.configuration.flowType == AuthFlowType::pkce) {
    if (isPKCEFlow(params)) return handlePKCEFlow(params);
    throw AuthError::pkceGrantCodeExchange("Not a valid PKCE flow URL: " + text);
  }
  if (params.contains("access_token") || params.contains("error_description")) {
    return handleImplicitGrant(params);
  }
  throw AuthError::implicitGrantRedirect("Not a valid implicit grant flow URL: " + text);
}

Session AuthClient::handleImplicitGrant(const Parameters& params) const {
  if (const std::string* description = find(params, "error_description")) {
    throw AuthError::implicitGrantRedirect(plusAsSpace(*description));
  }
  const std::string* accessToken = find(params, "access_token");
  const std::optional<double> expiresIn = parseNumber(find(params, "expires_in"));
  const std::string* refreshToken = find(params, "refresh_token");
  const std::string* tokenType = find(params, "token_type");
  if (!accessToken || !expiresIn || !refreshToken || !tokenType) {
    throw AuthError::implicitGrantRedirect("No session defined in URL");
  }
  // They go into a header as they came: a line break in a link must not add header lines.
  if (!detail::isHeaderSafe(*accessToken) || !detail::isHeaderSafe(*tokenType) ||
      !detail::isHeaderSafe(*refreshToken)) {
    throw AuthError::implicitGrantRedirect("The tokens in the URL hold control characters");
  }
  const Dependencies dependencies = Dependencies::get(clientID_);
  helpers::HTTPRequest userRequest = request("user", {}, HTTPMethod::get);
  userRequest.headers.set(HTTPField::Name("Authorization"), *tokenType + " " + *accessToken);
  User user = dependencies.api.execute(std::move(userRequest))
                  .decoded<User>(*dependencies.configuration.decoder);

  Session session;
  session.providerToken = optionalParameter(params, "provider_token");
  session.providerRefreshToken = optionalParameter(params, "provider_refresh_token");
  session.accessToken = *accessToken;
  session.tokenType = *tokenType;
  session.expiresIn = *expiresIn;
  const std::optional<double> expiresAt = parseNumber(find(params, "expires_at"));
  session.expiresAt = expiresAt ? *expiresAt : unixSeconds(dependencies.date()) + *expiresIn;
  session.refreshToken = *refreshToken;
  session.user = std::move(user);
  adopt(session);
  if (const std::string* type = find(params, "type"); type && *type == "recovery") {
    dependencies.eventEmitter.emit(AuthChangeEvent::passwordRecovery, session);
  }
  return session;
}

Session AuthClient::handlePKCEFlow(const Parameters& params) const {
  const std::string* error = find(params, "error");
  const std::string* description = find(params, "error_description");
  const std::string* code = find(params, "error_code");
  if (error || description || code) {
    throw AuthError::pkceGrantCodeExchange(
        description ? plusAsSpace(*description)
                    : "Error in URL with unspecified error_description.",
        error ? *error : "unspecified_error", code ? *code : "unspecified_code");
  }
  if (const std::string* authCode = find(params, "code")) return exchangeCodeForSession(*authCode);
  throw AuthError::pkceGrantCodeExchange("No code detected.");
}

Session AuthClient::setSession(const std::string& accessToken,
                               const std::string& refreshToken) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  const Date now = dependencies.date();
  std::optional<double> expiry;
  if (const auto claims = JWT::decodePayload(accessToken)) {
    if (const auto exp = claims->find("exp"); exp != claims->end())
      expiry = numberClaim(exp->second);
  }
  Session session;
  if (!expiry || *expiry <= unixSeconds(now)) {
    session = dependencies.sessionManager.refreshSession(refreshToken);
  } else {
    session.accessToken = accessToken;
    session.tokenType = "bearer";
    session.expiresIn = *expiry - unixSeconds(now);
    session.expiresAt = *expiry;
    session.refreshToken = refreshToken;
    session.user = user(accessToken);
  }
  adopt(session);
  return session;
}

Session AuthClient::refreshSession(std::optional<std::string> refreshToken) const {
  // Without a token the manager refreshes the stored session, which it then knows to have read:
  // should another program have refreshed it meanwhile, that program's session is used.
  return Dependencies::get(clientID_).sessionManager.refreshSession(refreshToken);
}

}  // namespace voduzazi::auth
