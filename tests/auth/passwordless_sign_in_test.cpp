#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/auth/auth_client_fakes.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;

class PasswordlessSignInTest : public AuthClientTest {
 protected:
  std::optional<std::string> storedVerifier(const AuthClient& client) const {
    return Dependencies::get(client.clientID()).codeVerifierStorage.get();
  }
};

TEST_F(PasswordlessSignInTest, EmailCodeCarriesItsRedirectChallengeAndCreateUserFlag) {
  auto client = clientWith(AuthFlowType::pkce, "app://configured");
  server->respondWith(200, R"({"message_id":"ignored"})");
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());

  client->signInWithOTP("ada@example.com", boost::urls::url("app://mine"), false,
                        JSONObject{{"plan", "free"}}, "captcha");

  const URLRequest sent = server->requests().at(0);
  EXPECT_EQ(sent.url.path(), "/auth/v1/otp");
  EXPECT_EQ(queryOf(sent), (std::map<std::string, std::string>{{"redirect_to", "app://mine"}}));
  const auto body = bodyOf(sent);
  EXPECT_EQ(body.at("email"), "ada@example.com");
  EXPECT_EQ(body.at("create_user"), false);
  EXPECT_EQ(body.at("data"), (boost::json::object{{"plan", "free"}}));
  EXPECT_EQ(body.at("vuvere_meta_security"), (boost::json::object{{"captcha_token", "captcha"}}));
  EXPECT_EQ(body.at("code_challenge_method"), "s256");
  EXPECT_TRUE(storedVerifier(*client).has_value());
  EXPECT_THAT(recorder.events(), ElementsAre(AuthChangeEvent::initialSession));
  EXPECT_EQ(client->currentSession(), std::nullopt);
}

TEST_F(PasswordlessSignInTest, PhoneCodeNeverPreparesPKCEOrSendsARedirect) {
  auto client = clientWith(AuthFlowType::pkce, "app://configured");
  server->respondWith(200, "{}");
  client->signInWithOTP("+15550100", MessagingChannel::whatsapp);
  const URLRequest sent = server->requests().at(0);
  EXPECT_TRUE(queryOf(sent).empty());
  EXPECT_EQ(bodyOf(sent),
            (boost::json::object{
                {"phone", "+15550100"}, {"create_user", true}, {"channel", "whatsapp"}}));
  EXPECT_EQ(storedVerifier(*client), std::nullopt);
}

TEST_F(PasswordlessSignInTest, AnonymousSignInSendsAnEmptyObjectAndSignsIn) {
  auto client = makeClient();
  server->respondWith(200, sessionBody("anon-access", "anon-refresh", secondsFromNow(3600)));
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());
  const Session session = client->signInAnonymously();
  const URLRequest sent = server->requests().at(0);
  EXPECT_EQ(sent.url.buffer(), "https://project.example.com/auth/v1/signup");
  EXPECT_EQ(*sent.httpBody, "{}");
  EXPECT_EQ(client->currentSession(), session);
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedIn));
}

TEST_F(PasswordlessSignInTest, IdTokenSignInSendsTheCredentialsWithoutASessionToken) {
  auto client = makeClient();
  storeSession(*client, makeSession("old-access", "old-refresh", secondsFromNow(3600)));
  server->respondWith(200, sessionBody("new-access", "new-refresh", secondsFromNow(3600)));
  OpenIDConnectCredentials credentials;
  credentials.provider = OpenIDConnectCredentials::Provider::apple;
  credentials.idToken = "id-token";
  credentials.linkIdentity = true;
  client->signInWithIdToken(credentials);
  const URLRequest sent = server->requests().at(0);
  EXPECT_EQ(queryOf(sent), (std::map<std::string, std::string>{{"grant_type", "id_token"}}));
  EXPECT_EQ(bodyOf(sent),
            (boost::json::object{
                {"provider", "apple"}, {"id_token", "id-token"}, {"link_identity", true}}));
  EXPECT_EQ(sent.value("Authorization"), std::nullopt);
  EXPECT_EQ(client->currentSession()->accessToken, "new-access");
}

TEST_F(PasswordlessSignInTest, SingleSignOnPutsTheRedirectIntoTheBodyNeverTheQuery) {
  auto client = clientWith(AuthFlowType::implicit, "app://configured");
  server->respondWith(200, R"({"url":"https://idp.example/sso?x=1"})");

  EXPECT_EQ(client->signInWithSSO("example.com").url.buffer(), "https://idp.example/sso?x=1");
  client->signInWithSSOProvider("provider-1", boost::urls::url("app://mine"));

  const auto requests = server->requests();
  EXPECT_TRUE(queryOf(requests[0]).empty());
  EXPECT_EQ(bodyOf(requests[0]),
            (boost::json::object{{"domain", "example.com"}, {"redirect_to", "app://configured"}}));
  EXPECT_EQ(bodyOf(requests[1]),
            (boost::json::object{{"provider_id", "provider-1"}, {"redirect_to", "app://mine"}}));
}

TEST_F(PasswordlessSignInTest, SingleSignOnAnswerWithoutAURLFailsToDecode) {
  auto client = makeClient();
  server->respondWith(200, R"({"link":"https://idp.example"})");
  EXPECT_THROW(client->signInWithSSO("example.com"), DecodingError);
}

}  // namespace
}  // namespace voduzazi::auth::testing
