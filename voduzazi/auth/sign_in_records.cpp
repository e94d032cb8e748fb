#include "voduzazi/auth/sign_in_records.hpp"

namespace voduzazi::auth {
namespace {

constexpr auto metaSecurityFields = std::tuple{
    field("captchaToken", &AuthMetaSecurity::captchaToken),
};

constexpr auto credentialsFields = std::tuple{
    field("email", &UserCredentials::email),
    field("password", &UserCredentials::password),
    field("phone", &UserCredentials::phone),
    field("refreshToken", &UserCredentials::refreshToken),
    field("vuvereMetaSecurity", &UserCredentials::vuvereMetaSecurity),
};

constexpr auto signUpFields = std::tuple{
    field("email", &SignUpRequest::email),
    field("password", &SignUpRequest::password),
    field("phone", &SignUpRequest::phone),
    field("channel", &SignUpRequest::channel),
    field("data", &SignUpRequest::data),
    field("vuvereMetaSecurity", &SignUpRequest::vuvereMetaSecurity),
    field("codeChallenge", &SignUpRequest::codeChallenge),
    field("codeChallengeMethod", &SignUpRequest::codeChallengeMethod),
};

constexpr auto otpFields = std::tuple{
    field("email", &OTPParams::email),
    field("phone", &OTPParams::phone),
    field("createUser", &OTPParams::createUser),
    field("channel", &OTPParams::channel),
    field("data", &OTPParams::data),
    field("vuvereMetaSecurity", &OTPParams::vuvereMetaSecurity),
    field("codeChallenge", &OTPParams::codeChallenge),
    field("codeChallengeMethod", &OTPParams::codeChallengeMethod),
};

constexpr auto verifyEmailFields = std::tuple{
    field("email", &VerifyEmailOTPParams::email),
    field("token", &VerifyEmailOTPParams::token),
    field("type", &VerifyEmailOTPParams::type),
    field("vuvereMetaSecurity", &VerifyEmailOTPParams::vuvereMetaSecurity),
};

constexpr auto verifyMobileFields = std::tuple{
    field("phone", &VerifyMobileOTPParams::phone),
    field("token", &VerifyMobileOTPParams::token),
    field("type", &VerifyMobileOTPParams::type),
    field("vuvereMetaSecurity", &VerifyMobileOTPParams::vuvereMetaSecurity),
};

constexpr auto verifyTokenHashFields = std::tuple{
    field("tokenHash", &VerifyTokenHashParams::tokenHash),
    field("type", &VerifyTokenHashParams::type),
};

constexpr auto recoverFields = std::tuple{
    field("email", &RecoverParams::email),
    field("vuvereMetaSecurity", &RecoverParams::vuvereMetaSecurity),
    field("codeChallenge", &RecoverParams::codeChallenge),
    field("codeChallengeMethod", &RecoverParams::codeChallengeMethod),
};

constexpr auto openIDFields = std::tuple{
    field("provider", &OpenIDConnectCredentials::provider),
    field("idToken", &OpenIDConnectCredentials::idToken),
    field("accessToken", &OpenIDConnectCredentials::accessToken),
    field("nonce", &OpenIDConnectCredentials::nonce),
    field("vuvereMetaSecurity", &OpenIDConnectCredentials::vuvereMetaSecurity),
    field("linkIdentity", &OpenIDConnectCredentials::linkIdentity),
};

constexpr auto resendEmailFields = std::tuple{
    field("type", &ResendEmailParams::type),
    field("email", &ResendEmailParams::email),
    field("vuvereMetaSecurity", &ResendEmailParams::vuvereMetaSecurity),
};

constexpr auto resendMobileFields = std::tuple{
    field("type", &ResendMobileParams::type),
    field("phone", &ResendMobileParams::phone),
    field("vuvereMetaSecurity", &ResendMobileParams::vuvereMetaSecurity),
};

constexpr auto resendResponseFields = std::tuple{
    field("messageId", &ResendMobileResponse::messageId),
};

constexpr auto ssoRequestFields = std::tuple{
    field("providerId", &SignInWithSSORequest::providerId),
    field("domain", &SignInWithSSORequest::domain),
    field("redirectTo", &SignInWithSSORequest::redirectTo),
    field("vuvereMetaSecurity", &SignInWithSSORequest::vuvereMetaSecurity),
    field("codeChallenge", &SignInWithSSORequest::codeChallenge),
    field("codeChallengeMethod", &SignInWithSSORequest::codeChallengeMethod),
};

constexpr auto ssoResponseFields = std::tuple{
    field("url", &SSOResponse::url),
};

constexpr auto oauthResponseFields = std::tuple{
    field("provider", &OAuthResponse::provider),
    field("url", &OAuthResponse::url),
};

}  // namespace

boost::json::value AuthMetaSecurity::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, metaSecurityFields);
}

AuthMetaSecurity AuthMetaSecurity::fromJSON(const boost::json::value& json,
                                            const JSONDecoder& decoder, const CodingPath& path) {
  return decodeFields(json, decoder, path, metaSecurityFields);
}

boost::json::value UserCredentials::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, credentialsFields);
}

UserCredentials UserCredentials::fromJSON(const boost::json::value& json,
                                          const JSONDecoder& decoder, const CodingPath& path) {
  return decodeFields(json, decoder, path, credentialsFields);
}

boost::json::value SignUpRequest::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, signUpFields);
}

SignUpRequest SignUpRequest::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                      const CodingPath& path) {
  return decodeFields(json, decoder, path, signUpFields);
}

boost::json::value OTPParams::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, otpFields);
}

OTPParams OTPParams::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                              const CodingPath& path) {
  return decodeFields(json, decoder, path, otpFields);
}

boost::json::value VerifyEmailOTPParams::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, verifyEmailFields);
}

boost::json::value VerifyMobileOTPParams::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, verifyMobileFields);
}

boost::json::value VerifyTokenHashParams::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, verifyTokenHashFields);
}

boost::json::value RecoverParams::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, recoverFields);
}

RecoverParams RecoverParams::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                      const CodingPath& path) {
  return decodeFields(json, decoder, path, recoverFields);
}

boost::json::value OpenIDConnectCredentials::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, openIDFields);
}

OpenIDConnectCredentials OpenIDConnectCredentials::fromJSON(const boost::json::value& json,
                                                            const JSONDecoder& decoder,
                                                            const CodingPath& path) {
  return decodeFields(json, decoder, path, openIDFields);
}

boost::json::value ResendEmailParams::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, resendEmailFields);
}

boost::json::value ResendMobileParams::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, resendMobileFields);
}

boost::json::value ResendMobileResponse::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, resendResponseFields);
}

ResendMobileResponse ResendMobileResponse::fromJSON(const boost::json::value& json,
                                                    const JSONDecoder& decoder,
                                                    const CodingPath& path) {
  return decodeFields(json, decoder, path, resendResponseFields);
}

boost::json::value SignInWithSSORequest::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, ssoRequestFields);
}

boost::json::value SSOResponse::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, ssoResponseFields);
}

SSOResponse SSOResponse::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                  const CodingPath& path) {
  return decodeFields(json, decoder, path, ssoResponseFields);
}

boost::json::value OAuthResponse::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, oauthResponseFields);
}

OAuthResponse OAuthResponse::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                      const CodingPath& path) {
  return decodeFields(json, decoder, path, oauthResponseFields);
}

boost::json::value VerifyOTPParams::toJSON(const JSONEncoder& encoder) const {
  return std::visit([&](const auto& params) { return params.toJSON(encoder); }, value);
}

}  // namespace voduzazi::auth
