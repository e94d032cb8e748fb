// The request bodies of sign-up, the password and refresh grants, ID-token sign-in, one-time
// passwords, verification, resend, recovery and single sign-on, with the small answers of
// resend, single sign-on and identity linking.
//
//   UserCredentials grant{.email = email, .password = password};
//   Data body = authJSONEncoder()->encode(grant);     // {"email":"...","password":"..."}
//   VerifyOTPParams verify = VerifyTokenHashParams{hash, EmailOTPType::magiclink};
//   Data verifyBody = authJSONEncoder()->encode(verify);   // {"token_hash":...,"type":...}
//
// Plain values; absent optional fields are left out of the JSON, never written as null.
#pragma once

#include <array>
#include <boost/url/url.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "voduzazi/auth/raw_values.hpp"
#include "voduzazi/auth/record_coding.hpp"
#include "voduzazi/auth/user.hpp"

namespace voduzazi::auth {

enum class MessagingChannel { sms, whatsapp };
template <>
struct RawValues<MessagingChannel> {
  static constexpr std::array<std::string_view, 2> values{"sms", "whatsapp"};
};

enum class EmailOTPType { signup, invite, magiclink, recovery, emailChange, email };
template <>
struct RawValues<EmailOTPType> {
  static constexpr std::array<std::string_view, 6> values{"signup",   "invite",       "magiclink",
                                                          "recovery", "email_change", "email"};
};

enum class MobileOTPType { sms, phoneChange };
template <>
struct RawValues<MobileOTPType> {
  static constexpr std::array<std::string_view, 2> values{"sms", "phone_change"};
};

enum class ResendEmailType { signup, emailChange };
template <>
struct RawValues<ResendEmailType> {
  static constexpr std::array<std::string_view, 2> values{"signup", "email_change"};
};

enum class ResendMobileType { sms, phoneChange };
template <>
struct RawValues<ResendMobileType> {
  static constexpr std::array<std::string_view, 2> values{"sms", "phone_change"};
};

// The "scope" query value of sign-out; not coded as JSON.
enum class SignOutScope { global, local, others };
template <>
struct RawValues<SignOutScope> {
  static constexpr std::array<std::string_view, 3> values{"global", "local", "others"};
};

// The captcha envelope, sent as "vuvere_meta_security": {"captcha_token": ...}.
struct AuthMetaSecurity {
  std::string captchaToken{};

  bool operator==(const AuthMetaSecurity&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static AuthMetaSecurity fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                   const CodingPath& path = {});
};

// The body of the password grant and of the refresh-token grant.
struct UserCredentials {
  std::optional<std::string> email{};
  std::optional<std::string> password{};
  std::optional<std::string> phone{};
  std::optional<std::string> refreshToken{};
  std::optional<AuthMetaSecurity> vuvereMetaSecurity{};

  bool operator==(const UserCredentials&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static UserCredentials fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                  const CodingPath& path = {});
};

// The body of sign-up and of anonymous sign-in.
struct SignUpRequest {
  std::optional<std::string> email{};
  std::optional<std::string> password{};
  std::optional<std::string> phone{};
  std::optional<MessagingChannel> channel{};
  std::optional<JSONObject> data{};
  std::optional<AuthMetaSecurity> vuvereMetaSecurity{};
  std::optional<std::string> codeChallenge{};
  std::optional<std::string> codeChallengeMethod{};

  bool operator==(const SignUpRequest&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static SignUpRequest fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                const CodingPath& path = {});
};

// The body of the one-time-password request; "create_user" is always written.
struct OTPParams {
  std::optional<std::string> email{};
  std::optional<std::string> phone{};
  bool createUser = true;
  std::optional<MessagingChannel> channel{};
  std::optional<JSONObject> data{};
  std::optional<AuthMetaSecurity> vuvereMetaSecurity{};
  std::optional<std::string> codeChallenge{};
  std::optional<std::string> codeChallengeMethod{};

  bool operator==(const OTPParams&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static OTPParams fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                            const CodingPath& path = {});
};

struct VerifyEmailOTPParams {
  std::string email{};
  std::string token{};
  EmailOTPType type = EmailOTPType::email;
  std::optional<AuthMetaSecurity> vuvereMetaSecurity{};

  bool operator==(const VerifyEmailOTPParams&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

struct VerifyMobileOTPParams {
  std::string phone{};
  std::string token{};
  MobileOTPType type = MobileOTPType::sms;
  std::optional<AuthMetaSecurity> vuvereMetaSecurity{};

  bool operator==(const VerifyMobileOTPParams&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

struct VerifyTokenHashParams {
  std::string tokenHash{};
  EmailOTPType type = EmailOTPType::email;

  bool operator==(const VerifyTokenHashParams&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

// The body of verification: the held record's own object, with no wrapper.
struct VerifyOTPParams {
  std::variant<VerifyEmailOTPParams, VerifyMobileOTPParams, VerifyTokenHashParams> value;

  VerifyOTPParams(VerifyEmailOTPParams params) : value(std::move(params)) {}
  VerifyOTPParams(VerifyMobileOTPParams params) : value(std::move(params)) {}
  VerifyOTPParams(VerifyTokenHashParams params) : value(std::move(params)) {}

  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

// The body of the password-recovery request.
struct RecoverParams {
  std::string email{};
  std::optional<AuthMetaSecurity> vuvereMetaSecurity{};
  std::optional<std::string> codeChallenge{};
  std::optional<std::string> codeChallengeMethod{};

  bool operator==(const RecoverParams&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static RecoverParams fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                const CodingPath& path = {});
};

// The body of the ID-token grant and of identity linking with an ID token.
struct OpenIDConnectCredentials {
  enum class Provider { google, apple, azure, facebook };

  Provider provider = Provider::google;
  std::string idToken{};
  std::optional<std::string> accessToken{};
  std::optional<std::string> nonce{};
  std::optional<AuthMetaSecurity> vuvereMetaSecurity{};
  bool linkIdentity = false;  // always written

  bool operator==(const OpenIDConnectCredentials&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static OpenIDConnectCredentials fromJSON(const boost::json::value& json,
                                           const JSONDecoder& decoder, const CodingPath& path = {});
};
template <>
struct RawValues<OpenIDConnectCredentials::Provider> {
  static constexpr std::array<std::string_view, 4> values{"google", "apple", "azure", "facebook"};
};

struct ResendEmailParams {
  ResendEmailType type = ResendEmailType::signup;
  std::string email{};
  std::optional<AuthMetaSecurity> vuvereMetaSecurity{};

  bool operator==(const ResendEmailParams&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

struct ResendMobileParams {
  ResendMobileType type = ResendMobileType::sms;
  std::string phone{};
  std::optional<AuthMetaSecurity> vuvereMetaSecurity{};

  bool operator==(const ResendMobileParams&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

struct ResendMobileResponse {
  std::optional<std::string> messageId{};

  bool operator==(const ResendMobileResponse&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static ResendMobileResponse fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                       const CodingPath& path = {});
};

// The body of single sign-on; the sign-on operations fill exactly one of providerId and domain.
struct SignInWithSSORequest {
  std::optional<std::string> providerId{};
  std::optional<std::string> domain{};
  std::optional<boost::urls::url> redirectTo;  // written as its absolute string
  std::optional<AuthMetaSecurity> vuvereMetaSecurity{};
  std::optional<std::string> codeChallenge{};
  std::optional<std::string> codeChallengeMethod{};

  bool operator==(const SignInWithSSORequest&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
};

// The address to open for single sign-on; "url" must hold a URL.
struct SSOResponse {
  boost::urls::url url{};

  bool operator==(const SSOResponse&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static SSOResponse fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                              const CodingPath& path = {});
};

// The answer of the identity-linking URL request.
struct OAuthResponse {
  Provider provider = Provider::apple;
  boost::urls::url url{};

  bool operator==(const OAuthResponse&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static OAuthResponse fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                const CodingPath& path = {});
};

}  // namespace voduzazi::auth
