#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "tests/auth/auth_client_fakes.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;

boost::json::object factor(const std::string& id, const std::string& type, const char* status) {
  return {{"id", id},
          {"factor_type", type},
          {"status", status},
          {"created_at", "2024-01-01T00:00:00Z"},
          {"updated_at", "2024-01-01T00:00:00Z"}};
}

class MFATest : public AuthClientTest {
 protected:
  // Signs in with a session whose access token is `accessToken` and whose user has `factors`.
  void signIn(const std::string& accessToken, boost::json::array factors = {}) {
    auto body = boost::json::parse(sessionBody(accessToken, "refresh", secondsFromNow(3600)));
    body.at("user").as_object()["factors"] = std::move(factors);
    storeSession(*client, AuthClientConfiguration::jsonDecoder()->decode<Session>(
                              boost::json::serialize(body)));
  }

  std::unique_ptr<AuthClient> client = makeClient();
};

TEST_F(MFATest, AChallengeHasABodyOnlyWithAChannel) {
  signIn("access");
  server->respondWith(200, R"({"id":"ch-1","type":"totp","expires_at":1800000000})");
  EXPECT_EQ(client->mfa().challenge({"f-1", std::nullopt}).id, "ch-1");
  client->mfa().challenge({"f-1", MessagingChannel::whatsapp});
  const auto requests = server->requests();
  EXPECT_EQ(requests[0].url.path(), "/auth/v1/factors/f-1/challenge");
  EXPECT_EQ(requests[0].httpMethod, "POST");
  EXPECT_FALSE(requests[0].httpBody);
  EXPECT_EQ(*requests[1].httpBody, R"({"channel":"whatsapp"})");
  EXPECT_EQ(requests[1].value("Authorization"), "Bearer access");
}

TEST_F(MFATest, AFactorIdStaysOnePathSegment) {
  signIn("access");
  server->respondWith(200, R"({"factor_id":"x"})");
  client->mfa().unenroll({"a?b#c%d"});
  EXPECT_EQ(server->requests()[0].url.encoded_path(), "/auth/v1/factors/a%3Fb%23c%25d");
  // A server that decodes "%2F" before routing would read these as other routes.
  EXPECT_THROW(client->mfa().unenroll({"f-1/challenge"}), std::invalid_argument);
  EXPECT_THROW(client->mfa().unenroll({"a/../../admin/users"}), std::invalid_argument);
  EXPECT_THROW(client->mfa().unenroll({"f-1\\challenge"}), std::invalid_argument);
  EXPECT_THROW(client->mfa().verify({std::string("f-1\n"), "c", "123456"}), std::invalid_argument);
  EXPECT_THROW(client->mfa().unenroll({".."}), std::invalid_argument);
  EXPECT_THROW(client->mfa().verify({".", "c", "123456"}), std::invalid_argument);
  EXPECT_THROW(client->mfa().challenge({"", std::nullopt}), std::invalid_argument);
  EXPECT_EQ(server->requestCount(), 1u);
}

TEST_F(MFATest, ChallengeAndVerifyStoresTheNewSessionBeforeAnnouncingIt) {
  signIn("aal1-access");
  server->respond([](const URLRequest& request) {
    if (request.url.path().ends_with("/challenge")) {
      return FakeAuthServer::answer(request, 200,
                                    R"({"id":"ch-9","type":"totp","expires_at":1800000000})");
    }
    return FakeAuthServer::answer(request, 200,
                                  sessionBody("aal2-access", "r2", secondsFromNow(3600)));
  });
  EventRecorder recorder;
  std::optional<Session> storedAtEvent;
  recorder.onEvent = [&](AuthChangeEvent event, const std::optional<Session>&) {
    if (event == AuthChangeEvent::mfaChallengeVerified) storedAtEvent = client->currentSession();
  };
  auto token = client->onAuthStateChange(recorder.listener());

  const Session session = client->mfa().challengeAndVerify({"f-1", "123456"});

  const auto requests = server->requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_FALSE(requests[0].httpBody);
  EXPECT_EQ(requests[1].url.path(), "/auth/v1/factors/f-1/verify");
  EXPECT_EQ(
      bodyOf(requests[1]),
      (boost::json::object{{"factor_id", "f-1"}, {"challenge_id", "ch-9"}, {"code", "123456"}}));
  EXPECT_EQ(session.accessToken, "aal2-access");
  EXPECT_EQ(storedAtEvent, session);
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::mfaChallengeVerified));
}

TEST_F(MFATest, ARefusedVerificationStoresAndAnnouncesNothing) {
  signIn("access");
  server->respondWith(422, R"({"code":"mfa_verification_failed","msg":"Invalid TOTP code"})");
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());
  try {
    client->mfa().verify({"f-1", "ch-1", "000000"});
    FAIL() << "expected a refusal";
  } catch (const AuthError& error) {
    EXPECT_EQ(error.errorCode(), ErrorCode::mfaVerificationFailed);
  }
  EXPECT_EQ(client->currentSession()->accessToken, "access");
  EXPECT_EQ(recorder.events().size(), 1u);
}

TEST_F(MFATest, ListedFactorsKeepOnlyVerifiedOnesOfTheExactTypes) {
  EXPECT_THROW(client->mfa().listFactors(), AuthError);
  signIn("access", {factor("t1", "totp", "verified"), factor("t2", "totp", "unverified"),
                    factor("t3", "TOTP", "verified"), factor("p1", "phone", "verified")});
  const auto listed = client->mfa().listFactors();
  const auto ids = [](const std::vector<Factor>& factors) {
    std::vector<std::string> ids;
    for (const auto& f : factors) ids.push_back(f.id);
    return ids;
  };
  EXPECT_THAT(ids(listed.all), ElementsAre("t1", "t2", "t3", "p1"));
  EXPECT_THAT(ids(listed.totp), ElementsAre("t1"));
  EXPECT_THAT(ids(listed.phone), ElementsAre("p1"));
}

TEST_F(MFATest, AssuranceLevelComesFromTheTokenClaimsAndTheVerifiedFactors) {
  EXPECT_EQ(client->mfa().getAuthenticatorAssuranceLevel(),
            AuthMFAGetAuthenticatorAssuranceLevelResponse{});

  const auto token = unsignedJWT(
      {{"aal", "aal1"},
       {"amr", boost::json::array{boost::json::object{{"method", "password"}, {"timestamp", 17}},
                                  boost::json::object{{"method", "otp"}}, "plain text"}}});
  signIn(token, {factor("p1", "phone", "verified")});
  auto level = client->mfa().getAuthenticatorAssuranceLevel();
  EXPECT_EQ(level.currentLevel, "aal1");
  EXPECT_EQ(level.nextLevel, "aal2");
  EXPECT_EQ(level.currentAuthenticationMethods, (std::vector<AMREntry>{{"password", 17}}));

  signIn(token, {factor("p1", "phone", "unverified")});
  EXPECT_EQ(client->mfa().getAuthenticatorAssuranceLevel().nextLevel, "aal1");

  signIn("not.a-jwt", {factor("t1", "totp", "verified")});
  level = client->mfa().getAuthenticatorAssuranceLevel();
  EXPECT_EQ(level.currentLevel, std::nullopt);
  EXPECT_EQ(level.nextLevel, "aal2");
  EXPECT_TRUE(level.currentAuthenticationMethods.empty());
}

}  // namespace
}  // namespace voduzazi::auth::testing
