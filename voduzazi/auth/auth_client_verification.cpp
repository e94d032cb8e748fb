// Verification of one-time codes and e-mail links, resending codes, reauthentication and
// password recovery.
#include <utility>

#include "voduzazi/auth/auth_client.hpp"
#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/auth/detail/request_parts.hpp"

namespace voduzazi::auth {

using detail::captcha;

AuthResponse AuthClient::verifyOTP(const std::string& email, const std::string& token,
                                   EmailOTPType type, std::optional<boost::urls::url> redirectTo,
                                   std::optional<std::string> captchaToken) const {
  const AuthClientConfiguration configuration = Dependencies::get(clientID_).configuration;
  helpers::HTTPRequest verify = request("verify", detail::redirectQuery(redirectTo, configuration));
  verify.body = configuration.encoder->encode(
      VerifyOTPParams(VerifyEmailOTPParams{email, token, type, captcha(captchaToken)}));
  return performVerifyOTP(std::move(verify));
}

AuthResponse AuthClient::verifyOTP(const std::string& phone, const std::string& token,
                                   MobileOTPType type,
                                   std::optional<std::string> captchaToken) const {
  helpers::HTTPRequest verify = request("verify");
  verify.body = Dependencies::get(clientID_).configuration.encoder->encode(
      VerifyOTPParams(VerifyMobileOTPParams{phone, token, type, captcha(captchaToken)}));
  return performVerifyOTP(std::move(verify));
}

AuthResponse AuthClient::verifyOTP(const std::string& tokenHash, EmailOTPType type) const {
  helpers::HTTPRequest verify = request("verify");
  verify.body = Dependencies::get(clientID_).configuration.encoder->encode(
      VerifyOTPParams(VerifyTokenHashParams{tokenHash, type}));
  return performVerifyOTP(std::move(verify));
}

AuthResponse AuthClient::performVerifyOTP(helpers::HTTPRequest request) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  AuthResponse answer = dependencies.api.execute(std::move(request))
                            .decoded<AuthResponse>(*dependencies.configuration.decoder);
  // Whatever the type (a recovery link too): a session means the user is signed in.
  if (const Session* session = answer.session()) adopt(*session);
  return answer;
}

void AuthClient::resend(const std::string& email, ResendEmailType type,
                        std::optional<boost::urls::url> emailRedirectTo,
                        std::optional<std::string> captchaToken) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  helpers::HTTPRequest resend =
      request("resend", detail::redirectQuery(emailRedirectTo, dependencies.configuration));
  resend.body = dependencies.configuration.encoder->encode(
      ResendEmailParams{type, email, captcha(captchaToken)});
  dependencies.api.execute(std::move(resend));
}

ResendMobileResponse AuthClient::resend(const std::string& phone, ResendMobileType type,
                                        std::optional<std::string> captchaToken) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  helpers::HTTPRequest resend = request("resend");
  resend.body = dependencies.configuration.encoder->encode(
      ResendMobileParams{type, phone, captcha(captchaToken)});
  return dependencies.api.execute(std::move(resend))
      .decoded<ResendMobileResponse>(*dependencies.configuration.decoder);
}

void AuthClient::reauthenticate() const {
  Dependencies::get(clientID_).api.authorizedExecute(
      request("reauthenticate", {}, HTTPMethod::get));
}

void AuthClient::resetPasswordForEmail(const std::string& email,
                                       std::optional<boost::urls::url> redirectTo,
                                       std::optional<std::string> captchaToken) const {
  // First: in the PKCE flow the new verifier is kept even when the request then fails.
  const PKCEPair pkce = prepareForPKCE();
  const Dependencies dependencies = Dependencies::get(clientID_);
  helpers::HTTPRequest recover =
      request("recover", detail::redirectQuery(redirectTo, dependencies.configuration));
  recover.body = dependencies.configuration.encoder->encode(
      RecoverParams{email, captcha(captchaToken), pkce.codeChallenge, pkce.codeChallengeMethod});
  dependencies.api.execute(std::move(recover));
}

}  // namespace voduzazi::auth
