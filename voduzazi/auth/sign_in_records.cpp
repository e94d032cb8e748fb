#include "voduzazi/auth/sign_in_records.hpp"

#include <boost/url/parse.hpp>

namespace voduzazi::auth {
boost::urls::url decodeURL(const KeyedDecoder& in, std::string_view key) {
  const std::string text = in.decode<std::string>(key);
  auto parsed = boost::urls::parse_uri_reference(text);
  if (!parsed || text.empty()) {
    CodingPath path = in.codingPath();
    path.emplace_back(key);
    throw DecodingError(DecodingError::Kind::dataCorrupted, path, "Invalid URL string.");
  }
  return boost::urls::url(*parsed);
}

boost::json::value AuthMetaSecurity::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("captchaToken", captchaToken);
  return std::move(out).json();
}

AuthMetaSecurity AuthMetaSecurity::fromJSON(const boost::json::value& json,
                                            const JSONDecoder& decoder, const CodingPath& path) {
  return {KeyedDecoder(json, decoder, path).decode<std::string>("captchaToken")};
}

boost::json::value UserCredentials::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encodeIfPresent("email", email);
  out.encodeIfPresent("password", password);
  out.encodeIfPresent("phone", phone);
  out.encodeIfPresent("refreshToken", refreshToken);
  out.encodeIfPresent("vuvereMetaSecurity", vuvereMetaSecurity);
  return std::move(out).json();
}

UserCredentials UserCredentials::fromJSON(const boost::json::value& json,
                                          const JSONDecoder& decoder, const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decodeIfPresent<std::string>("email"), in.decodeIfPresent<std::string>("password"),
          in.decodeIfPresent<std::string>("phone"), in.decodeIfPresent<std::string>("refreshToken"),
          in.decodeIfPresent<AuthMetaSecurity>("vuvereMetaSecurity")};
}

boost::json::value SignUpRequest::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encodeIfPresent("email", email);
  out.encodeIfPresent("password", password);
  out.encodeIfPresent("phone", phone);
  out.encodeIfPresent("channel", channel);
  out.encodeIfPresent("data", data);
  out.encodeIfPresent("vuvereMetaSecurity", vuvereMetaSecurity);
  out.encodeIfPresent("codeChallenge", codeChallenge);
  out.encodeIfPresent("codeChallengeMethod", codeChallengeMethod);
  return std::move(out).json();
}

SignUpRequest SignUpRequest::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                      const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decodeIfPresent<std::string>("email"),
          in.decodeIfPresent<std::string>("password"),
          in.decodeIfPresent<std::string>("phone"),
          in.decodeIfPresent<MessagingChannel>("channel"),
          in.decodeIfPresent<JSONObject>("data"),
          in.decodeIfPresent<AuthMetaSecurity>("vuvereMetaSecurity"),
          in.decodeIfPresent<std::string>("codeChallenge"),
          in.decodeIfPresent<std::string>("codeChallengeMethod")};
}

boost::json::value OTPParams::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encodeIfPresent("email", email);
  out.encodeIfPresent("phone", phone);
  out.encode("createUser", createUser);
  out.encodeIfPresent("channel", channel);
  out.encodeIfPresent("data", data);
  out.encodeIfPresent("vuvereMetaSecurity", vuvereMetaSecurity);
  out.encodeIfPresent("codeChallenge", codeChallenge);
  out.encodeIfPresent("codeChallengeMethod", codeChallengeMethod);
  return std::move(out).json();
}

OTPParams OTPParams::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                              const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decodeIfPresent<std::string>("email"),
          in.decodeIfPresent<std::string>("phone"),
          in.decode<bool>("createUser"),
          in.decodeIfPresent<MessagingChannel>("channel"),
          in.decodeIfPresent<JSONObject>("data"),
          in.decodeIfPresent<AuthMetaSecurity>("vuvereMetaSecurity"),
          in.decodeIfPresent<std::string>("codeChallenge"),
          in.decodeIfPresent<std::string>("codeChallengeMethod")};
}

boost::json::value VerifyEmailOTPParams::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("email", email);
  out.encode("token", token);
  out.encode("type", type);
  out.encodeIfPresent("vuvereMetaSecurity", vuvereMetaSecurity);
  return std::move(out).json();
}

boost::json::value VerifyMobileOTPParams::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("phone", phone);
  out.encode("token", token);
  out.encode("type", type);
  out.encodeIfPresent("vuvereMetaSecurity", vuvereMetaSecurity);
  return std::move(out).json();
}

boost::json::value VerifyTokenHashParams::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("tokenHash", tokenHash);
  out.encode("type", type);
  return std::move(out).json();
}

boost::json::value VerifyOTPParams::toJSON(const JSONEncoder& encoder) const {
  return std::visit([&](const auto& params) { return params.toJSON(encoder); }, value);
}

boost::json::value RecoverParams::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("email", email);
  out.encodeIfPresent("vuvereMetaSecurity", vuvereMetaSecurity);
  out.encodeIfPresent("codeChallenge", codeChallenge);
  out.encodeIfPresent("codeChallengeMethod", codeChallengeMethod);
  return std::move(out).json();
}

RecoverParams RecoverParams::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                      const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decode<std::string>("email"),
          in.decodeIfPresent<AuthMetaSecurity>("vuvereMetaSecurity"),
          in.decodeIfPresent<std::string>("codeChallenge"),
          in.decodeIfPresent<std::string>("codeChallengeMethod")};
}

boost::json::value OpenIDConnectCredentials::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("provider", provider);
  out.encode("idToken", idToken);
  out.encodeIfPresent("accessToken", accessToken);
  out.encodeIfPresent("nonce", nonce);
  out.encodeIfPresent("vuvereMetaSecurity", vuvereMetaSecurity);
  out.encode("linkIdentity", linkIdentity);
  return std::move(out).json();
}

OpenIDConnectCredentials OpenIDConnectCredentials::fromJSON(const boost::json::value& json,
                                                            const JSONDecoder& decoder,
                                                            const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decode<Provider>("provider"),
          in.decode<std::string>("idToken"),
          in.decodeIfPresent<std::string>("accessToken"),
          in.decodeIfPresent<std::string>("nonce"),
          in.decodeIfPresent<AuthMetaSecurity>("vuvereMetaSecurity"),
          in.decode<bool>("linkIdentity")};
}

boost::json::value ResendEmailParams::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("type", type);
  out.encode("email", email);
  out.encodeIfPresent("vuvereMetaSecurity", vuvereMetaSecurity);
  return std::move(out).json();
}

boost::json::value ResendMobileParams::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("type", type);
  out.encode("phone", phone);
  out.encodeIfPresent("vuvereMetaSecurity", vuvereMetaSecurity);
  return std::move(out).json();
}

boost::json::value ResendMobileResponse::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encodeIfPresent("messageId", messageId);
  return std::move(out).json();
}

ResendMobileResponse ResendMobileResponse::fromJSON(const boost::json::value& json,
                                                    const JSONDecoder& decoder,
                                                    const CodingPath& path) {
  return {KeyedDecoder(json, decoder, path).decodeIfPresent<std::string>("messageId")};
}

boost::json::value SignInWithSSORequest::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encodeIfPresent("providerId", providerId);
  out.encodeIfPresent("domain", domain);
  if (redirectTo) out.encode("redirectTo", std::string(redirectTo->buffer()));
  out.encodeIfPresent("vuvereMetaSecurity", vuvereMetaSecurity);
  out.encodeIfPresent("codeChallenge", codeChallenge);
  out.encodeIfPresent("codeChallengeMethod", codeChallengeMethod);
  return std::move(out).json();
}

boost::json::value SSOResponse::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("url", std::string(url.buffer()));
  return std::move(out).json();
}

SSOResponse SSOResponse::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                  const CodingPath& path) {
  return {decodeURL(KeyedDecoder(json, decoder, path), "url")};
}

boost::json::value OAuthResponse::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("provider", provider);
  out.encode("url", std::string(url.buffer()));
  return std::move(out).json();
}

OAuthResponse OAuthResponse::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                      const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  Provider provider = in.decode<Provider>("provider");
  return {provider, decodeURL(in, "url")};
}

}  // namespace voduzazi::auth
