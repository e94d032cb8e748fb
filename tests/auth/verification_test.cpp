#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/auth/auth_client_fakes.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;

using VerificationTest = AuthClientTest;

TEST_F(VerificationTest, EmailVerificationTakesTheConfiguredRedirectOnlyWithoutItsOwn) {
  auto bare = clientWith(AuthFlowType::pkce);
  auto configured = clientWith(AuthFlowType::pkce, "app://configured");
  server->respondWith(200, userBody());
  bare->verifyOTP("ada@example.com", "123456", EmailOTPType::signup);
  configured->verifyOTP("ada@example.com", "123456", EmailOTPType::email);
  configured->verifyOTP("ada@example.com", "123456", EmailOTPType::email,
                        boost::urls::url("app://mine"), "captcha");
  const auto requests = server->requests();
  EXPECT_TRUE(queryOf(requests[0]).empty());
  EXPECT_EQ(queryOf(requests[1]).at("redirect_to"), "app://configured");
  EXPECT_EQ(queryOf(requests[2]).at("redirect_to"), "app://mine");
  EXPECT_EQ(
      bodyOf(requests[0]),
      (boost::json::object{{"email", "ada@example.com"}, {"token", "123456"}, {"type", "signup"}}));
  EXPECT_EQ(bodyOf(requests[2]).at("vuvere_meta_security"),
            (boost::json::object{{"captcha_token", "captcha"}}));
}

TEST_F(VerificationTest, ABareUserAnswerChangesNothing) {
  auto client = makeClient();
  server->respondWith(200, userBody());
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());
  const AuthResponse answer = client->verifyOTP("+15550100", "123456", MobileOTPType::sms);
  EXPECT_EQ(answer.session(), nullptr);
  EXPECT_EQ(bodyOf(server->requests()[0]),
            (boost::json::object{{"phone", "+15550100"}, {"token", "123456"}, {"type", "sms"}}));
  EXPECT_EQ(client->currentSession(), std::nullopt);
  EXPECT_THAT(recorder.events(), ElementsAre(AuthChangeEvent::initialSession));
}

TEST_F(VerificationTest, ASessionAnswerSignsInOnceEvenForRecovery) {
  auto client = clientWith(AuthFlowType::implicit, "app://configured");
  server->respondWith(200, sessionBody("access", "refresh", secondsFromNow(3600)));
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());
  const AuthResponse answer = client->verifyOTP("hash", EmailOTPType::recovery);
  const URLRequest sent = server->requests()[0];
  EXPECT_TRUE(queryOf(sent).empty());
  EXPECT_EQ(bodyOf(sent), (boost::json::object{{"token_hash", "hash"}, {"type", "recovery"}}));
  ASSERT_NE(answer.session(), nullptr);
  EXPECT_EQ(client->currentSession(), *answer.session());
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedIn));
}

TEST_F(VerificationTest, ResendByPhoneGivesTheMessageIdWhenThereIsOne) {
  auto client = makeClient();
  server->respondWith(200, R"({"message_id":"m-1"})");
  EXPECT_EQ(client->resend("+15550100", ResendMobileType::phoneChange).messageId, "m-1");
  EXPECT_EQ(bodyOf(server->requests()[0]),
            (boost::json::object{{"type", "phone_change"}, {"phone", "+15550100"}}));
  server->respondWith(200, "{}");
  EXPECT_EQ(client->resend("+15550100", ResendMobileType::sms).messageId, std::nullopt);

  client->resend("ada@example.com", ResendEmailType::emailChange, boost::urls::url("app://x"));
  const URLRequest email = server->requests()[2];
  EXPECT_EQ(email.url.path(), "/auth/v1/resend");
  EXPECT_EQ(queryOf(email).at("redirect_to"), "app://x");
  EXPECT_EQ(bodyOf(email).at("type"), "email_change");
}

TEST_F(VerificationTest, ReauthenticationNeedsASessionAndSendsItsToken) {
  auto client = makeClient();
  EXPECT_THROW(client->reauthenticate(), AuthError);
  EXPECT_EQ(server->requestCount(), 0u);
  storeSession(*client, makeSession("access", "refresh", secondsFromNow(3600)));
  server->respondWith(200, "{}");
  client->reauthenticate();
  const URLRequest sent = server->requests().at(0);
  EXPECT_EQ(sent.httpMethod, "GET");
  EXPECT_EQ(sent.url.path(), "/auth/v1/reauthenticate");
  EXPECT_EQ(sent.value("Authorization"), "Bearer access");
  EXPECT_FALSE(sent.httpBody);
}

TEST_F(VerificationTest, RecoverySendsAChallengeOnlyInThePKCEFlow) {
  auto implicit = clientWith(AuthFlowType::implicit);
  auto pkce = clientWith(AuthFlowType::pkce);
  server->respondWith(200, "{}");
  implicit->resetPasswordForEmail("ada@example.com");
  pkce->resetPasswordForEmail("ada@example.com");
  EXPECT_EQ(bodyOf(server->requests()[0]), (boost::json::object{{"email", "ada@example.com"}}));
  const auto body = bodyOf(server->requests()[1]);
  EXPECT_EQ(server->requests()[1].url.path(), "/auth/v1/recover");
  EXPECT_EQ(body.at("code_challenge_method"), "s256");
  EXPECT_TRUE(Dependencies::get(pkce->clientID()).codeVerifierStorage.get().has_value());
}

}  // namespace
}  // namespace voduzazi::auth::testing
