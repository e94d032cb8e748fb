#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "tests/auth/auth_client_fakes.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;

class UserTest : public AuthClientTest {
 protected:
  std::unique_ptr<AuthClient> signedInClient(AuthFlowType flow = AuthFlowType::pkce) {
    auto options = this->options();
    options.flowType = flow;
    auto client = makeClient(options);
    storeSession(*client, makeSession("access", "refresh", secondsFromNow(3600)));
    return client;
  }

  static std::string updatedUserBody() {
    auto user = boost::json::parse(userBody()).as_object();
    user["email"] = "new@example.com";
    return boost::json::serialize(user);
  }
};

TEST_F(UserTest, AnExplicitTokenNeedsNoSessionAndIsSentAsItIs) {
  auto client = makeClient();
  server->respondWith(200, userBody());
  EXPECT_EQ(client->user("given-token").email, "ada@example.com");
  EXPECT_EQ(server->requests()[0].value("Authorization"), "Bearer given-token");
  EXPECT_THROW(client->user("bad\r\ntoken"), AuthError);
  EXPECT_THROW(client->user(), AuthError);  // no session
  EXPECT_EQ(server->requestCount(), 1u);
}

TEST_F(UserTest, ANewAddressGetsAChallengeAPasswordAloneDoesNot) {
  auto client = signedInClient();
  server->respondWith(200, userBody());
  client->update(UserAttributes{.email = "new@example.com"});
  client->update(UserAttributes{.password = "new password"});
  const auto requests = server->requests();
  EXPECT_EQ(requests[0].httpMethod, "PUT");
  EXPECT_EQ(bodyOf(requests[0]).at("code_challenge_method"), "s256");
  EXPECT_EQ(bodyOf(requests[1]), (boost::json::object{{"password", "new password"}}));
  EXPECT_EQ(requests[1].value("Authorization"), "Bearer access");
}

TEST_F(UserTest, UpdateWritesTheUserIntoTheSessionStoredAfterTheRequest) {
  auto client = signedInClient();
  // A refresh ends while the update is under way.
  server->respond([&](const URLRequest& request) {
    storeSession(*client, makeSession("refreshed", "refreshed-refresh", secondsFromNow(3600)));
    return FakeAuthServer::answer(request, 200, updatedUserBody());
  });
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());

  const User user = client->update(UserAttributes{.email = "new@example.com"});

  const auto stored = client->currentSession();
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->accessToken, "refreshed");
  EXPECT_EQ(stored->user, user);
  EXPECT_EQ(user.email, "new@example.com");
  const auto entries = recorder.entries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].event, AuthChangeEvent::userUpdated);
  EXPECT_EQ(entries[1].session, stored);
}

TEST_F(UserTest, UpdateDoesNotBringBackASessionThatEndedMeanwhile) {
  auto client = signedInClient();
  server->respond([&](const URLRequest& request) {
    Dependencies::get(client->clientID()).sessionManager.remove();
    return FakeAuthServer::answer(request, 200, updatedUserBody());
  });
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());
  EXPECT_EQ(client->update(UserAttributes{.password = "pw"}).email, "new@example.com");
  EXPECT_EQ(client->currentSession(), std::nullopt);
  EXPECT_EQ(recorder.events().size(), 1u);  // INITIAL_SESSION only
}

TEST_F(UserTest, IdentitiesOfAUserWithoutAnyAreEmpty) {
  auto client = signedInClient();
  server->respondWith(200, userBody());
  EXPECT_TRUE(client->userIdentities().empty());
}

TEST_F(UserTest, LinkingWithAnIdTokenForcesTheFlagAndAnnouncesAnUpdate) {
  auto client = signedInClient();
  server->respondWith(200, sessionBody("linked", "linked-refresh", secondsFromNow(3600)));
  EventRecorder recorder;
  auto token = client->onAuthStateChange(recorder.listener());
  OpenIDConnectCredentials credentials;
  credentials.idToken = "id";
  client->linkIdentityWithIdToken(credentials);
  const URLRequest sent = server->requests()[0];
  EXPECT_EQ(sent.value("Authorization"), "Bearer access");
  EXPECT_EQ(queryOf(sent).at("grant_type"), "id_token");
  EXPECT_EQ(bodyOf(sent).at("link_identity"), true);
  EXPECT_EQ(client->currentSession()->accessToken, "linked");
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::userUpdated));
}

TEST_F(UserTest, TheLinkURLIsAskedForWithTheTokenAndOpened) {
  auto client = signedInClient();
  std::vector<std::string> opened;
  Dependencies::update(client->clientID(), [&](Dependencies& dependencies) {
    dependencies.urlOpener.open = [&](const boost::urls::url& url) {
      opened.emplace_back(url.buffer());
    };
  });
  server->respondWith(200, R"({"url":"https://idp.example/link"})");
  client->linkIdentity(Provider::github);
  const URLRequest sent = server->requests()[0];
  EXPECT_EQ(sent.httpMethod, "GET");
  EXPECT_EQ(sent.url.path(), "/auth/v1/user/identities/authorize");
  EXPECT_EQ(queryOf(sent).at("skip_http_redirect"), "true");
  EXPECT_EQ(queryOf(sent).at("provider"), "github");
  EXPECT_EQ(sent.value("Authorization"), "Bearer access");
  EXPECT_EQ(opened, (std::vector<std::string>{"https://idp.example/link"}));
}

TEST_F(UserTest, UnlinkingPutsTheUpperCaseIdentityIdIntoThePath) {
  auto client = signedInClient();
  server->respondWith(204, "");
  UserIdentity identity;
  client->unlinkIdentity(identity);
  const URLRequest sent = server->requests()[0];
  EXPECT_EQ(sent.httpMethod, "DELETE");
  EXPECT_EQ(sent.url.path(), "/auth/v1/user/identities/00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(client->currentSession()->accessToken, "access");
}

}  // namespace
}  // namespace voduzazi::auth::testing
