#include "voduzazi/auth/auth_error.hpp"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

namespace voduzazi::auth {
namespace {

TEST(ErrorCode, NamedConstantsKeepTheServerSpelling) {
  EXPECT_EQ(ErrorCode("weak_password"), ErrorCode::weakPassword);
  EXPECT_EQ(ErrorCode::badCodeVerifier.rawValue, "bad_code_verifier");
  EXPECT_EQ(ErrorCode::mfaTOTPEnrollDisabled.rawValue, "mfa_totp_enroll_not_enabled");
  EXPECT_EQ(ErrorCode::badJSON.rawValue, "bad_json");
  EXPECT_EQ(ErrorCode::samlIdPNotFound.rawValue, "saml_idp_not_found");
  EXPECT_EQ(ErrorCode::emailAddressNotAuthorized.rawValue, "email_address_not_authorized");
  ErrorCode novel("brand_new_code");
  EXPECT_EQ(novel.rawValue, "brand_new_code");
  EXPECT_NE(novel, ErrorCode("Brand_new_code"));
  EXPECT_EQ(authJSONDecoder()->decode<ErrorCode>(R"("otp_expired")"), ErrorCode::otpExpired);
}

TEST(AuthError, DescriptionsAndCodesFollowTheCase) {
  EXPECT_STREQ(AuthError::sessionMissing().what(), "Auth session missing.");
  EXPECT_EQ(AuthError::sessionMissing().errorCode(), ErrorCode::sessionNotFound);
  EXPECT_EQ(AuthError::sessionNotFound(), AuthError::sessionMissing());
  EXPECT_EQ(AuthError::missingURL().errorCode(), ErrorCode::unknown);
  EXPECT_EQ(AuthError::implicitGrantRedirect("x").errorCode(), ErrorCode::unknown);
  EXPECT_EQ(AuthError::weakPassword("w", {}).errorCode(), ErrorCode::weakPassword);
  EXPECT_EQ(AuthError::missingExpClaim().message(),
            "Missing expiration claim in the access token.");
  EXPECT_EQ(AuthError::malformedJWT().message(), "A malformed JWT received.");
  EXPECT_EQ(AuthError::invalidRedirectScheme().message(), "Invalid redirect scheme.");
  EXPECT_EQ(AuthError::pkce(AuthError::PKCEFailureReason::codeVerifierNotFound).message(),
            "A code verifier wasn't found in PKCE flow.");
  EXPECT_EQ(AuthError::pkce(AuthError::PKCEFailureReason::invalidPKCEFlowURL).message(),
            "Not a valid PKCE flow url.");
  EXPECT_EQ(AuthError::invalidImplicitGrantFlowURL().message(),
            "Not a valid implicit grant flow url.");
  auto api =
      AuthError::api("Invalid login credentials", ErrorCode::invalidCredentials, "{}", nullptr);
  EXPECT_EQ(api.errorCode(), ErrorCode::invalidCredentials);
  EXPECT_STREQ(api.what(), "Invalid login credentials");
}

TEST(AuthError, EqualityComparesPayloadsAndResponsesByIdentity) {
  auto response = std::make_shared<const HTTPURLResponse>(defaultAuthURL(), 400, HeaderFieldList{});
  auto first = AuthError::api("m", ErrorCode::conflict, "body", response);
  EXPECT_EQ(first, AuthError::api("m", ErrorCode::conflict, "body", response));
  EXPECT_NE(first, AuthError::api("m", ErrorCode::conflict, "other", response));
  auto sameStatus =
      std::make_shared<const HTTPURLResponse>(defaultAuthURL(), 400, HeaderFieldList{});
  EXPECT_NE(first, AuthError::api("m", ErrorCode::conflict, "body", sameStatus));
  EXPECT_TRUE(matches(first, first));
  EXPECT_FALSE(matches(std::runtime_error("m"), first));
  EXPECT_FALSE(matches(AuthError::missingURL(), first));
}

TEST(AuthError, OlderAPIErrorsMapToAuthErrors) {
  AuthError plain = AuthError::api(AuthError::APIError{});
  const auto* payload = plain.as<AuthError::API>();
  ASSERT_NE(payload, nullptr);
  EXPECT_EQ(plain.message(), "Unexpected API error.");
  EXPECT_EQ(payload->errorCode, ErrorCode::unknown);
  ASSERT_NE(payload->underlyingResponse, nullptr);
  EXPECT_EQ(payload->underlyingResponse->statusCode(), 500);
  EXPECT_EQ(payload->underlyingResponse->url().buffer(), "http://localhost:9999");
  EXPECT_EQ(payload->underlyingData, "{}");

  AuthError::APIError coded(std::nullopt, 401, "invalid_grant", "Bad token", std::nullopt);
  AuthError mapped = AuthError::api(coded);
  EXPECT_EQ(mapped.message(), "invalid_grant");
  EXPECT_EQ(mapped.as<AuthError::API>()->underlyingResponse->statusCode(), 401);
  EXPECT_EQ(boost::json::parse(mapped.as<AuthError::API>()->underlyingData),
            boost::json::parse(R"({"code": 401, "error": "invalid_grant",
                                   "error_description": "Bad token"})"));

  auto weak = authJSONDecoder()->decode<AuthError::APIError>(
      R"({"code": 422, "msg": "Password is too weak",
          "weak_password": {"reasons": ["length", "characters"]}})");
  AuthError weakError = AuthError::api(weak);
  ASSERT_NE(weakError.as<AuthError::WeakPassword>(), nullptr);
  EXPECT_EQ(weakError.as<AuthError::WeakPassword>()->reasons,
            (std::vector<std::string>{"length", "characters"}));
  EXPECT_EQ(weakError.message(), "Password is too weak");
}

}  // namespace
}  // namespace voduzazi::auth
