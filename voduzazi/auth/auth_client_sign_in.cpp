// Sign-up and password sign-in.
#include <utility>

#include "voduzazi/auth/auth_client.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/auth/detail/auth_paths.hpp"
#include "voduzazi/auth/detail/request_parts.hpp"
#include "voduzazi/auth/sign_in_records.hpp"

namespace voduzazi::auth {

using detail::captcha;
using detail::redirectQuery;

helpers::HTTPRequest AuthClient::request(std::string_view path, std::vector<URLQueryItem> query,
                                         HTTPMethod method) const {
  return helpers::HTTPRequest(
      detail::appendingPath(Dependencies::get(clientID_).configuration.url, path),
      std::move(method), std::move(query));
}

AuthResponse AuthClient::signUp(const std::string& email, const std::string& password,
                                std::optional<JSONObject> data,
                                std::optional<boost::urls::url> redirectTo,
                                std::optional<std::string> captchaToken) const {
  // First of all: in the PKCE flow the verifier is kept even when the sign-up then fails.
  const PKCEPair pkce = prepareForPKCE();
  const Dependencies dependencies = Dependencies::get(clientID_);
  const AuthClientConfiguration& configuration = dependencies.configuration;
  SignUpRequest body;
  body.email = email;
  body.password = password;
  body.data = std::move(data);
  body.vuvereMetaSecurity = captcha(captchaToken);
  body.codeChallenge = pkce.codeChallenge;
  body.codeChallengeMethod = pkce.codeChallengeMethod;
  helpers::HTTPRequest signUp = request("signup", redirectQuery(redirectTo, configuration));
  signUp.body = configuration.encoder->encode(body);
  return performSignUp(std::move(signUp));
}

AuthResponse AuthClient::signUpWithPhone(const std::string& phone, const std::string& password,
                                         MessagingChannel channel, std::optional<JSONObject> data,
                                         std::optional<std::string> captchaToken) const {
  SignUpRequest body;
  body.phone = phone;
  body.password = password;
  body.channel = channel;
  body.data = std::move(data);
  body.vuvereMetaSecurity = captcha(captchaToken);
  helpers::HTTPRequest signUp = request("signup");
  signUp.body = Dependencies::get(clientID_).configuration.encoder->encode(body);
  return performSignUp(std::move(signUp));
}

Session AuthClient::signIn(const std::string& email, const std::string& password,
                           std::optional<std::string> captchaToken) const {
  UserCredentials credentials;
  credentials.email = email;
  return signInWithPassword(std::move(credentials), password, std::move(captchaToken));
}

Session AuthClient::signInWithPhone(const std::string& phone, const std::string& password,
                                    std::optional<std::string> captchaToken) const {
  UserCredentials credentials;
  credentials.phone = phone;
  return signInWithPassword(std::move(credentials), password, std::move(captchaToken));
}

Session AuthClient::signInWithPassword(UserCredentials credentials, const std::string& password,
                                       std::optional<std::string> captchaToken) const {
  credentials.password = password;
  credentials.vuvereMetaSecurity = captcha(captchaToken);
  helpers::HTTPRequest signIn = request("token", {{"grant_type", "password"}});
  signIn.body = Dependencies::get(clientID_).configuration.encoder->encode(credentials);
  return performSignIn(std::move(signIn));
}

AuthResponse AuthClient::performSignUp(helpers::HTTPRequest request) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  const helpers::HTTPResponse response = dependencies.api.execute(std::move(request));
  AuthResponse answer = response.decoded<AuthResponse>(*dependencies.configuration.decoder);
  if (const auto session = answer.session()) adopt(*session);
  return answer;
}

Session AuthClient::performSignIn(helpers::HTTPRequest request) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  const helpers::HTTPResponse response = dependencies.api.execute(std::move(request));
  Session session = response.decoded<Session>(*dependencies.configuration.decoder);
  adopt(session);
  return session;
}

void AuthClient::adopt(const Session& session, AuthChangeEvent event) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  // Stored first, so a listener that reads the session finds this one.
  dependencies.sessionManager.update(session);
  dependencies.eventEmitter.emit(event, session);
}

}  // namespace voduzazi::auth
