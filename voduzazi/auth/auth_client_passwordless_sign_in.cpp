// Sign-in without a password: one-time passwords, ID tokens, anonymous users and single sign-on.
#include <utility>

#include "voduzazi/auth/auth_client.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/auth/detail/request_parts.hpp"

namespace voduzazi::auth {

using detail::captcha;

Session AuthClient::signInWithIdToken(const OpenIDConnectCredentials& credentials) const {
  helpers::HTTPRequest grant = request("token", {{"grant_type", "id_token"}});
  grant.body = Dependencies::get(clientID_).configuration.encoder->encode(credentials);
  return performSignIn(std::move(grant));
}

Session AuthClient::signInAnonymously(std::optional<JSONObject> data,
                                      std::optional<std::string> captchaToken) const {
  SignUpRequest body;
  body.data = std::move(data);
  body.vuvereMetaSecurity = captcha(captchaToken);
  helpers::HTTPRequest signUp = request("signup");
  signUp.body = Dependencies::get(clientID_).configuration.encoder->encode(body);
  return performSignIn(std::move(signUp));
}

void AuthClient::signInWithOTP(const std::string& email, std::optional<boost::urls::url> redirectTo,
                               bool shouldCreateUser, std::optional<JSONObject> data,
                               std::optional<std::string> captchaToken) const {
  // First: in the PKCE flow the verifier is kept whatever the request's outcome.
  const PKCEPair pkce = prepareForPKCE();
  const Dependencies dependencies = Dependencies::get(clientID_);
  OTPParams body;
  body.email = email;
  body.createUser = shouldCreateUser;
  body.data = std::move(data);
  body.vuvereMetaSecurity = captcha(captchaToken);
  body.codeChallenge = pkce.codeChallenge;
  body.codeChallengeMethod = pkce.codeChallengeMethod;
  helpers::HTTPRequest otp =
      request("otp", detail::redirectQuery(redirectTo, dependencies.configuration));
  otp.body = dependencies.configuration.encoder->encode(body);
  dependencies.api.execute(std::move(otp));
}

void AuthClient::signInWithOTP(const std::string& phone, MessagingChannel channel,
                               bool shouldCreateUser, std::optional<JSONObject> data,
                               std::optional<std::string> captchaToken) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  OTPParams body;
  body.phone = phone;
  body.createUser = shouldCreateUser;
  body.channel = channel;
  body.data = std::move(data);
  body.vuvereMetaSecurity = captcha(captchaToken);
  helpers::HTTPRequest otp = request("otp");
  otp.body = dependencies.configuration.encoder->encode(body);
  dependencies.api.execute(std::move(otp));
}

SSOResponse AuthClient::performSSO(SignInWithSSORequest body,
                                   const std::optional<boost::urls::url>& redirectTo,
                                   const std::optional<std::string>& captchaToken) const {
  const PKCEPair pkce = prepareForPKCE();
  const Dependencies dependencies = Dependencies::get(clientID_);
  // The redirect URL travels in the body here, never in the query.
  body.redirectTo = detail::effectiveRedirect(redirectTo, dependencies.configuration);
  body.vuvereMetaSecurity = captcha(captchaToken);
  body.codeChallenge = pkce.codeChallenge;
  body.codeChallengeMethod = pkce.codeChallengeMethod;
  helpers::HTTPRequest sso = request("sso");
  sso.body = dependencies.configuration.encoder->encode(body);
  return dependencies.api.execute(std::move(sso))
      .decoded<SSOResponse>(*dependencies.configuration.decoder);
}

SSOResponse AuthClient::signInWithSSO(const std::string& domain,
                                      std::optional<boost::urls::url> redirectTo,
                                      std::optional<std::string> captchaToken) const {
  SignInWithSSORequest body;
  body.domain = domain;
  return performSSO(std::move(body), redirectTo, captchaToken);
}

SSOResponse AuthClient::signInWithSSOProvider(const std::string& providerId,
                                              std::optional<boost::urls::url> redirectTo,
                                              std::optional<std::string> captchaToken) const {
  SignInWithSSORequest body;
  body.providerId = providerId;
  return performSSO(std::move(body), redirectTo, captchaToken);
}

}  // namespace voduzazi::auth
