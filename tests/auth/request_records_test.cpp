#include <gtest/gtest.h>

#include "tests/auth/record_test_support.hpp"
#include "voduzazi/auth/mfa_records.hpp"
#include "voduzazi/auth/sign_in_records.hpp"
#include "voduzazi/auth/user_attributes.hpp"

namespace voduzazi::auth {
namespace {

using testing::encoded;
using testing::json;

TEST(SignInRecords, AbsentFieldsAreLeftOutAndCaptchaIsNested) {
  EXPECT_EQ(encoded(UserCredentials{.refreshToken = "r"}), json(R"({"refresh_token": "r"})"));
  EXPECT_EQ(encoded(SignUpRequest{.email = "a@b.c",
                                  .channel = MessagingChannel::whatsapp,
                                  .data = JSONObject{{"user_name", "ada"}},
                                  .vuvereMetaSecurity = AuthMetaSecurity{"c"}}),
            json(R"({"email": "a@b.c", "channel": "whatsapp", "data": {"user_name": "ada"},
                     "vuvere_meta_security": {"captcha_token": "c"}})"));
  EXPECT_EQ(encoded(OTPParams{.email = "a@b.c", .createUser = false}),
            json(R"({"email": "a@b.c", "create_user": false})"));
  EXPECT_EQ(encoded(OpenIDConnectCredentials{.idToken = "t"}),
            json(R"({"provider": "google", "id_token": "t", "link_identity": false})"));
}

TEST(SignInRecords, VerificationIsTheHeldRecordWithoutWrapper) {
  EXPECT_EQ(encoded(VerifyOTPParams(VerifyTokenHashParams{"h", EmailOTPType::magiclink})),
            json(R"({"token_hash": "h", "type": "magiclink"})"));
  EXPECT_EQ(encoded(VerifyOTPParams(VerifyEmailOTPParams{"a@b.c", "123", EmailOTPType::emailChange,
                                                         AuthMetaSecurity{"c"}})),
            json(R"({"email": "a@b.c", "token": "123", "type": "email_change",
                     "vuvere_meta_security": {"captcha_token": "c"}})"));
  EXPECT_EQ(encoded(VerifyOTPParams(VerifyMobileOTPParams{"+1", "9", MobileOTPType::phoneChange})),
            json(R"({"phone": "+1", "token": "9", "type": "phone_change"})"));
  constexpr auto types = allCases<EmailOTPType>();
  ASSERT_EQ(types.size(), 6u);
  EXPECT_EQ(toString(types.front()), "signup");
  EXPECT_EQ(toString(types.back()), "email");
}

TEST(SignInRecords, DecodingChecksRequiredKeysEnumerationsAndURLs) {
  EXPECT_THROW(authJSONDecoder()->decode<RecoverParams>(R"({"code_challenge": "x"})"),
               DecodingError);
  EXPECT_THROW(authJSONDecoder()->decode<OpenIDConnectCredentials>(
                   R"({"provider": "github", "id_token": "t", "link_identity": true})"),
               DecodingError);
  EXPECT_FALSE(authJSONDecoder()->decode<ResendMobileResponse>("{}").messageId);
  auto sso = authJSONDecoder()->decode<SSOResponse>(R"({"url": "https://idp.example/sso?x=1"})");
  EXPECT_EQ(sso.url.host(), "idp.example");
  EXPECT_THROW(authJSONDecoder()->decode<SSOResponse>(R"({"url": "not a url"})"), DecodingError);
  EXPECT_THROW(authJSONDecoder()->decode<SSOResponse>("{}"), DecodingError);
  auto oauth = authJSONDecoder()->decode<OAuthResponse>(
      R"({"provider": "linkedin_oidc", "url": "https://x.example/a"})");
  EXPECT_EQ(oauth.provider, Provider::linkedinOIDC);
  EXPECT_EQ(encoded(oauth), json(R"({"provider": "linkedin_oidc", "url": "https://x.example/a"})"));
}

TEST(SignInRecords, SingleSignOnWritesTheRedirectAsItsAbsoluteString) {
  SignInWithSSORequest request{.domain = "example.org",
                               .redirectTo = boost::urls::url("tapwick://callback?a=b")};
  EXPECT_EQ(encoded(request),
            json(R"({"domain": "example.org", "redirect_to": "tapwick://callback?a=b"})"));
  EXPECT_EQ(encoded(ResendEmailParams{ResendEmailType::emailChange, "a@b.c"}),
            json(R"({"type": "email_change", "email": "a@b.c"})"));
}

TEST(SignInRecords, ScopesAndChannelsMatchRawValuesExactly) {
  EXPECT_EQ(fromRawValue<SignOutScope>("others"), SignOutScope::others);
  EXPECT_FALSE(fromRawValue<SignOutScope>("GLOBAL"));
  EXPECT_EQ(fromRawValue<MessagingChannel>("whatsapp"), MessagingChannel::whatsapp);
  EXPECT_FALSE(fromRawValue<MobileOTPType>("phoneChange"));
}

TEST(UserAttributes, OnlySetFieldsAreSent) {
  EXPECT_EQ(encoded(UserAttributes{.password = "p"}), json(R"({"password": "p"})"));
  EXPECT_EQ(encoded(AdminUserAttributes{.emailConfirm = true}), json(R"({"email_confirm": true})"));
  EXPECT_EQ(encoded(AdminUserAttributes{.emailConfirm = false}),
            json(R"({"email_confirm": false})"));
  EXPECT_EQ(encoded(AdminUserAttributes{}), json("{}"));
  EXPECT_EQ(encoded(DeleteUserRequest{}), json(R"({"should_soft_delete": false})"));
  const std::string text =
      description(AdminUserAttributes{.password = "hunter2", .passwordHash = "$2y$hash"});
  EXPECT_EQ(text.find("hunter2"), std::string::npos);
  EXPECT_EQ(text.find("$2y$hash"), std::string::npos);
  const std::string change = description(
      UserAttributes{.nonce = "n-secret", .emailChangeToken = "e-secret"});
  EXPECT_EQ(change.find("n-secret"), std::string::npos);
  EXPECT_EQ(change.find("e-secret"), std::string::npos);
}

http_types::HTTPFields headers(std::initializer_list<std::pair<const char*, const char*>> pairs) {
  http_types::HTTPFields fields;
  for (const auto& [name, value] : pairs) {
    fields.append(http_types::HTTPField(http_types::HTTPField::Name(name), value));
  }
  return fields;
}

TEST(ListUsersPaginatedResponse, ReadsPagesFromTheLinkHeader) {
  auto page = ListUsersPaginatedResponse::withPaging(
      {}, "authenticated",
      headers({{"Link",
                "</admin/users?page=3&per_page=50>; rel=\"next\", "
                "</admin/users?page=12&per_page=50>; rel=\"last\""},
               {"X-Total-Count", "579"}}));
  EXPECT_EQ(page.nextPage, 3);
  EXPECT_EQ(page.lastPage, 12);
  EXPECT_EQ(page.total, 579);

  auto bare = ListUsersPaginatedResponse::withPaging({}, "a", headers({}));
  EXPECT_FALSE(bare.nextPage);
  EXPECT_EQ(bare.lastPage, 0);
  EXPECT_EQ(bare.total, 0);

  auto odd = ListUsersPaginatedResponse::withPaging(
      {}, "a",
      headers({{"link", "</admin/users?page=2>; rel=next, <no-equals>; rel=\"last\", garbage"},
               {"x-total-count", "12abc"}}));
  EXPECT_FALSE(odd.nextPage);  // rel without quotes is not "next"
  EXPECT_EQ(odd.lastPage, 0);
  EXPECT_EQ(odd.total, 0);
  // An entry whose page does not parse leaves an earlier valid one alone.
  auto unparsable = ListUsersPaginatedResponse::withPaging(
      {}, "a",
      headers({{"link",
                "</admin/users?page=3>; rel=\"next\", </admin/users?page=x>; rel=\"next\", "
                "</admin/users?page=9>; rel=\"last\", </admin/users?page=>; rel=\"last\""}}));
  EXPECT_EQ(unparsable.nextPage, 3);
  EXPECT_EQ(unparsable.lastPage, 9);
}

TEST(MFARecords, EnrolmentParametersFixTheirFactorType) {
  EXPECT_EQ(encoded(MFAEnrollParamsType(MFAEnrollParamsType::totp())),
            json(R"({"factor_type": "totp"})"));
  EXPECT_EQ(encoded(MFAEnrollParamsType(MFAEnrollParamsType::phone(std::nullopt, "+1"))),
            json(R"({"factor_type": "phone", "phone": "+1"})"));
  EXPECT_EQ(encoded(MFAChallengeParams{"f", MessagingChannel::whatsapp}),
            json(R"({"factor_id": "f", "channel": "whatsapp"})"));
  EXPECT_EQ(encoded(MFAChallengeParams{"f"}), json(R"({"factor_id": "f"})"));
  EXPECT_EQ(encoded(MFAVerifyParams{"f", "c", "123456"}),
            json(R"({"factor_id": "f", "challenge_id": "c", "code": "123456"})"));
}

TEST(MFARecords, AnswersDecodeStrictly) {
  auto phone = authJSONDecoder()->decode<AuthMFAEnrollResponse>(
      R"({"id": "f", "type": "phone", "phone": "+1"})");
  EXPECT_FALSE(phone.totp);
  auto totp = authJSONDecoder()->decode<AuthMFAEnrollResponse>(
      R"({"id": "f", "type": "totp", "totp": {"qr_code": "q", "secret": "s", "uri": "u"}})");
  ASSERT_TRUE(totp.totp);
  EXPECT_EQ(totp.totp->qrCode, "q");
  EXPECT_THROW(authJSONDecoder()->decode<AuthMFAChallengeResponse>(
                   R"({"id": "c", "type": "totp", "expires_at": "1700000000"})"),
               DecodingError);
  EXPECT_EQ(authJSONDecoder()
                ->decode<AuthMFAChallengeResponse>(
                    R"({"id": "c", "type": "totp", "expires_at": 1700000000})")
                .expiresAt,
            1700000000.0);
}

TEST(AMREntry, IsBuiltOnlyFromWellFormedUntypedElements) {
  auto claim = AnyJSON::fromJSON(json(R"([
      {"method": "password", "timestamp": 1700000000.25},
      {"method": "otp", "timestamp": 1700000000},
      {"method": "totp", "timestamp": "1700000000"},
      {"timestamp": 1},
      "password", null])"));
  const JSONArray& elements = *claim.arrayValue();
  EXPECT_EQ(AMREntry::fromValue(elements[0]), (AMREntry{"password", 1700000000.25}));
  EXPECT_EQ(AMREntry::fromValue(elements[1]), (AMREntry{"otp", 1700000000}));
  for (std::size_t i = 2; i < elements.size(); ++i) {
    EXPECT_FALSE(AMREntry::fromValue(elements[i])) << i;
  }
}

}  // namespace
}  // namespace voduzazi::auth
