#include <gtest/gtest.h>

#include <chrono>
#include <unordered_set>

#include "tests/auth/record_test_support.hpp"
#include "tests/auth/storage_test_support.hpp"
#include "voduzazi/auth/record_hashing.hpp"
#include "voduzazi/auth/session.hpp"
#include "voduzazi/auth/sign_in_records.hpp"
#include "voduzazi/auth/user.hpp"

namespace voduzazi::auth {
namespace {

using testing::encoded;
using testing::json;
using testing::minimalUserBody;
using testing::sessionBody;

Session decodeSession(std::string_view body) { return authJSONDecoder()->decode<Session>(body); }

TEST(Session, AbsentOptionalsDecodeAbsentAndAreNeverWrittenAsNull) {
  Session session = decodeSession(sessionBody(R"("provider_token": null, )"));
  EXPECT_FALSE(session.providerToken);
  EXPECT_FALSE(session.providerRefreshToken);
  EXPECT_FALSE(session.weakPassword);
  EXPECT_EQ(session.expiresAt, 1700000000.5);

  auto object = encoded(session).as_object();
  EXPECT_FALSE(object.contains("provider_token"));
  EXPECT_FALSE(object.contains("provider_refresh_token"));
  EXPECT_FALSE(object.contains("weak_password"));
  EXPECT_EQ(object.at("access_token"), "header.payload.signature");
  EXPECT_EQ(object.at("expires_in"), 3600.0);
}

TEST(Session, RoundTripsThroughBothStoredLayouts) {
  Session session = decodeSession(sessionBody(
      R"("provider_token": "p", "weak_password": {"reasons": ["length", "characters"]}, )"));
  session.user.lastSignInAt = Date(std::chrono::milliseconds(1700000000123));

  EXPECT_EQ(authJSONDecoder()->decode<Session>(authJSONEncoder()->encode(session)), session);

  // The plain coders keep the declared keys and write dates as seconds since 2001.
  JSONEncoder plainEncoder;
  JSONDecoder plainDecoder;
  auto plain = encoded(session, plainEncoder);
  EXPECT_TRUE(plain.as_object().contains("accessToken"));
  EXPECT_TRUE(plain.at("user").as_object().contains("createdAt"));
  EXPECT_DOUBLE_EQ(plain.at("user").at("lastSignInAt").as_double(), 1700000000.123 - 978307200);
  EXPECT_EQ(plainDecoder.decode<Session>(plainEncoder.encode(session)), session);

  // Neither coder reads the other's layout.
  EXPECT_THROW(plainDecoder.decode<Session>(authJSONEncoder()->encode(session)), DecodingError);
  EXPECT_THROW(authJSONDecoder()->decode<Session>(plainEncoder.encode(session)), DecodingError);
}

TEST(Session, RequiresBothExpiryFields) {
  std::string body = sessionBody();
  body.replace(body.find(R"("expires_at": 1700000000.5, )"), 28, "");
  try {
    decodeSession(body);
    FAIL() << "decoded without expires_at";
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.kind(), DecodingError::Kind::keyNotFound);
  }
  try {
    authJSONDecoder()->decode<AuthResponse>(body);
    FAIL() << "decoded without expires_at";
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    EXPECT_STREQ(error.what(),
                 "Data could not be decoded as any of the expected types (Session, User).");
  }
}

TEST(Session, ExpiresWithinThirtySeconds) {
  Session session = decodeSession(sessionBody());
  const auto at = [](double seconds) {
    return Date(std::chrono::duration_cast<Date::duration>(std::chrono::duration<double>(seconds)));
  };
  EXPECT_FALSE(session.isExpired(at(session.expiresAt - 30.5)));
  EXPECT_FALSE(session.isExpired(at(session.expiresAt - 30)));
  EXPECT_TRUE(session.isExpired(at(session.expiresAt - 29.9)));
  EXPECT_TRUE(session.isExpired(at(session.expiresAt + 1)));
}

TEST(Session, DiffersByEveryField) {
  Session session = decodeSession(sessionBody());
  Session other = session;
  other.expiresIn += 1;
  EXPECT_NE(session, other);
}

TEST(Session, TextFormMasksEveryToken) {
  Session session = decodeSession(sessionBody(R"("provider_token": "provider-secret", )"));
  const std::string text = description(session);
  for (std::string_view secret : {"header.payload.signature", "r-123", "provider-secret"}) {
    EXPECT_EQ(text.find(secret), std::string::npos) << text;
  }
  EXPECT_NE(text.find("<redacted>"), std::string::npos);
  const std::string eventText = description(AuthChangeEvent::signedIn, session);
  EXPECT_EQ(eventText.rfind("(SIGNED_IN, ", 0), 0u);
  EXPECT_EQ(eventText.find("r-123"), std::string::npos);
}

TEST(AuthResponse, BareUserDecodesAsUser) {
  AuthResponse response = authJSONDecoder()->decode<AuthResponse>(minimalUserBody);
  EXPECT_EQ(response.session(), nullptr);
  EXPECT_EQ(response.user().aud, "authenticated");

  AuthResponse signedIn = authJSONDecoder()->decode<AuthResponse>(sessionBody());
  ASSERT_NE(signedIn.session(), nullptr);
  EXPECT_EQ(&signedIn.user(), &signedIn.session()->user);
  // Written as the payload itself, without a wrapper.
  EXPECT_TRUE(encoded(signedIn).as_object().contains("access_token"));
}

TEST(AuthChangeEvent, MatchesRawValuesExactly) {
  EXPECT_EQ(fromRawValue<AuthChangeEvent>("SIGNED_IN"), AuthChangeEvent::signedIn);
  EXPECT_EQ(fromRawValue<AuthChangeEvent>("MFA_CHALLENGE_VERIFIED"),
            AuthChangeEvent::mfaChallengeVerified);
  EXPECT_FALSE(fromRawValue<AuthChangeEvent>("signed_in"));
  EXPECT_EQ(toString(AuthChangeEvent::initialSession), "INITIAL_SESSION");
}

TEST(User, MinimalBodyGetsDefaultsThatAreWrittenBack) {
  User user = authJSONDecoder()->decode<User>(minimalUserBody);
  EXPECT_TRUE(user.appMetadata.empty());
  EXPECT_TRUE(user.userMetadata.empty());
  EXPECT_FALSE(user.isAnonymous);
  EXPECT_FALSE(user.identities);
  EXPECT_FALSE(user.factors);
  EXPECT_FALSE(user.email);

  auto object = encoded(user).as_object();
  EXPECT_EQ(object.at("app_metadata"), boost::json::object());
  EXPECT_EQ(object.at("user_metadata"), boost::json::object());
  EXPECT_EQ(object.at("is_anonymous"), false);
  EXPECT_FALSE(object.contains("identities"));
  EXPECT_FALSE(object.contains("factors"));
  EXPECT_EQ(object.at("id"), "9f1c2a44-1b2c-4d5e-8f90-a1b2c3d4e5f6");
  EXPECT_EQ(object.at("created_at"), "2024-03-05T07:08:09.123");
}

TEST(User, NullAnonymousFlagIsFalseAndUpperCaseIdsAreRead) {
  User user = authJSONDecoder()->decode<User>(
      R"({"id": "9F1C2A44-1B2C-4D5E-8F90-A1B2C3D4E5F6", "aud": "a", "is_anonymous": null,
          "created_at": "2024-03-05T07:08:09", "updated_at": "2024-03-05T07:08:09.000"})");
  EXPECT_FALSE(user.isAnonymous);
  EXPECT_EQ(uppercaseString(user.id), "9F1C2A44-1B2C-4D5E-8F90-A1B2C3D4E5F6");
  EXPECT_EQ(user.id, authJSONDecoder()->decode<User>(minimalUserBody).id);
}

TEST(User, MetadataKeysPassThroughUnchanged) {
  User user = authJSONDecoder()->decode<User>(
      R"({"id": "9f1c2a44-1b2c-4d5e-8f90-a1b2c3d4e5f6", "aud": "a",
          "created_at": "2024-03-05T07:08:09Z", "updated_at": "2024-03-05T07:08:09Z",
          "user_metadata": {"user_name": "ada", "displayName": "Ada", "nested": {"a_b": 1}}})");
  EXPECT_TRUE(user.userMetadata.contains("user_name"));
  EXPECT_TRUE(user.userMetadata.contains("displayName"));
  auto metadata = encoded(user).at("user_metadata");
  EXPECT_EQ(metadata, json(R"({"user_name": "ada", "displayName": "Ada", "nested": {"a_b": 1}})"));
}

TEST(User, BadNestedRecordsFailTheWholeUser) {
  const auto withKey = [](std::string_view extra) {
    std::string body(minimalUserBody);
    body.insert(body.size() - 1, std::string(", ") + std::string(extra));
    return body;
  };
  EXPECT_NO_THROW(authJSONDecoder()->decode<User>(withKey(
      R"("factors": [{"id": "f", "factor_type": "totp", "status": "unverified",
          "created_at": "2024-03-05T07:08:09Z", "updated_at": "2024-03-05T07:08:09Z"}])")));
  EXPECT_THROW(authJSONDecoder()->decode<User>(withKey(
                   R"("factors": [{"id": "f", "factor_type": "totp", "status": "pending",
          "created_at": "2024-03-05T07:08:09Z", "updated_at": "2024-03-05T07:08:09Z"}])")),
               DecodingError);
  EXPECT_THROW(authJSONDecoder()->decode<User>(
                   withKey(R"("identities": [{"id": "i", "provider": "email"}])")),
               DecodingError);
  std::string withoutUpdatedAt(minimalUserBody);
  withoutUpdatedAt.replace(withoutUpdatedAt.find(R"(, "updated_at")"), 36, "");
  EXPECT_THROW(authJSONDecoder()->decode<User>(withoutUpdatedAt), DecodingError);
  try {
    authJSONDecoder()->decode<User>(withKey(R"("identities": [{"id": 7}])"));
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.codingPath(), (CodingPath{"identities", "Index 0", "id"}));
  }
}

TEST(UserIdentity, MissingIdentityIdIsTheZeroUUIDAndIsWritten) {
  auto identity = authJSONDecoder()->decode<UserIdentity>(
      R"({"id": "i", "user_id": "9f1c2a44-1b2c-4d5e-8f90-a1b2c3d4e5f6", "provider": "email",
          "identity_id": null})");
  EXPECT_EQ(identity.identityId, UUID{});
  EXPECT_EQ(encoded(identity).at("identity_id"), "00000000-0000-0000-0000-000000000000");
  EXPECT_FALSE(encoded(identity).as_object().contains("identity_data"));
}

TEST(Provider, EveryRawValueRoundTrips) {
  constexpr auto providers = allCases<Provider>();
  ASSERT_EQ(providers.size(), 23u);
  EXPECT_EQ(providers.front(), Provider::apple);
  EXPECT_EQ(providers.back(), Provider::fly);
  for (Provider provider : providers) {
    EXPECT_EQ(fromRawValue<Provider>(toString(provider)), provider) << toString(provider);
  }
  EXPECT_EQ(toString(Provider::linkedinOIDC), "linkedin_oidc");
  EXPECT_EQ(toString(Provider::slackOIDC), "slack_oidc");
  EXPECT_FALSE(fromRawValue<Provider>("linkedinOIDC"));
  EXPECT_FALSE(fromRawValue<Provider>("GitHub"));
}

// Records that compare equal hash equally, so they key unordered containers; a changed field
// (also deep inside, or an optional that becomes absent) changes the hash.
TEST(RecordHashing, EqualRecordsHashEquallyAndChangesShow) {
  const Session session = testing::sampleSession();
  Session copy = session;
  EXPECT_EQ(std::hash<Session>()(session), std::hash<Session>()(copy));
  copy.user.factors = std::vector<Factor>{Factor{.id = "f-1", .factorType = "totp"}};
  EXPECT_NE(std::hash<Session>()(session), std::hash<Session>()(copy));
  std::unordered_set<Session> sessions{session, copy, session};
  EXPECT_EQ(sessions.size(), 2u);

  EXPECT_EQ(std::hash<AuthResponse>()(AuthResponse(session)),
            std::hash<AuthResponse>()(AuthResponse(session)));
  EXPECT_NE(std::hash<AuthResponse>()(AuthResponse(session)),
            std::hash<AuthResponse>()(AuthResponse(session.user)));
  const UserCredentials password{.email = "ada@example.com", .password = "pw"};
  UserCredentials without = password;
  without.password.reset();
  EXPECT_NE(std::hash<UserCredentials>()(password), std::hash<UserCredentials>()(without));
  EXPECT_EQ(std::hash<MFAEnrollParamsType>()(MFAEnrollParamsType::totp("a", "b")),
            std::hash<MFAEnrollParamsType>()(MFAEnrollParamsType::totp("a", "b")));

  // URLs compare after normalisation, so spellings of one address hash alike.
  const SSOResponse spelled{boost::urls::url("HTTP://Example.com/%7euser")};
  const SSOResponse plain{boost::urls::url("http://example.com/~user")};
  ASSERT_EQ(spelled, plain);
  EXPECT_EQ(std::hash<SSOResponse>()(spelled), std::hash<SSOResponse>()(plain));
}

}  // namespace
}  // namespace voduzazi::auth
