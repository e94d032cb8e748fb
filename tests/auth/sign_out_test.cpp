#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/auth/auth_client_fakes.hpp"
#include "tests/support/checked_list.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;
using voduzazi::testing::lastOf;

class SignOutTest : public AuthClientTest {
 protected:
  SignOutTest() {
    auto options = this->options();
    options.logger = logger;
    client = makeClient(options);
    token = client->onAuthStateChange(recorder.listener());
    recorder.onEvent = [this](AuthChangeEvent event, const std::optional<Session>&) {
      if (event == AuthChangeEvent::signedOut) requestsAtSignedOut.push_back(server->requestCount());
    };
  }

  // Expired on purpose: sign-out sends the token as stored and never refreshes it first.
  void signIn(double expiresAt = secondsFromNow(-600)) {
    storeSession(*client, makeSession("stored-access", "stored-refresh", expiresAt));
  }

  std::vector<AuthChangeEvent> eventsAfterInitial() const {
    auto events = recorder.events();
    events.erase(events.begin());
    return events;
  }

  std::unique_ptr<AuthClient> client;
  EventRecorder recorder;
  std::shared_ptr<ObservationToken> token;
  std::vector<std::size_t> requestsAtSignedOut;
};

TEST_F(SignOutTest, WithoutASessionOnlyWarns) {
  client->signOut();
  EXPECT_EQ(server->requestCount(), 0u);
  EXPECT_THAT(eventsAfterInitial(), ElementsAre());
  std::size_t warnings = 0;
  for (const auto& message : logger->messages()) {
    if (message.level == VoduzaziLogLevel::warning) {
      ++warnings;
      EXPECT_EQ(message.message, "signOut called without a session");
    }
  }
  EXPECT_EQ(warnings, 1u);
}

TEST_F(SignOutTest, GlobalAndLocalSignTheDeviceOutBeforeTellingTheServer) {
  for (const SignOutScope scope : {SignOutScope::global, SignOutScope::local}) {
    signIn();
    server->respondWith(204, "");
    const std::size_t before = server->requestCount();
    requestsAtSignedOut.clear();

    client->signOut(scope);

    EXPECT_EQ(client->currentSession(), std::nullopt);
    EXPECT_EQ(requestsAtSignedOut, std::vector<std::size_t>{before}) << "SIGNED_OUT first";
    ASSERT_EQ(server->requestCount(), before + 1);
    const URLRequest sent = server->requests().back();
    EXPECT_EQ(sent.httpMethod, "POST");
    EXPECT_EQ(sent.url.path(), "/auth/v1/logout");
    EXPECT_EQ(queryOf(sent), (std::map<std::string, std::string>{
                                 {"scope", std::string(toString(scope))}}));
    EXPECT_EQ(sent.value("Authorization"), "Bearer stored-access");
    EXPECT_FALSE(sent.httpBody.has_value());
  }
  EXPECT_THAT(eventsAfterInitial(),
              ElementsAre(AuthChangeEvent::signedOut, AuthChangeEvent::signedOut));
}

TEST_F(SignOutTest, OthersKeepsThisDevicesSession) {
  signIn();
  server->respondWith(204, "");
  client->signOut(SignOutScope::others);
  EXPECT_EQ(client->currentSession()->accessToken, "stored-access");
  EXPECT_THAT(eventsAfterInitial(), ElementsAre());
  EXPECT_EQ(queryOf(lastOf(server->requests(), "the requests sent")).at("scope"), "others");
}

TEST_F(SignOutTest, AServerThatNoLongerKnowsTheTokenIsNoFailure) {
  for (int status : {401, 403, 404}) {
    signIn();
    server->respondWith(status, R"({"code":"bad_jwt","msg":"invalid JWT"})");
    EXPECT_NO_THROW(client->signOut()) << status;
    EXPECT_EQ(client->currentSession(), std::nullopt);
  }
  EXPECT_EQ(eventsAfterInitial().size(), 3u);
}

TEST_F(SignOutTest, AForgottenSessionSignsOutOnceAndReportsNoFailure) {
  signIn();
  server->respondWith(400, R"({"code":"session_not_found","msg":"Session not found"})");
  EXPECT_NO_THROW(client->signOut());
  EXPECT_THAT(eventsAfterInitial(), ElementsAre(AuthChangeEvent::signedOut));

  signIn();
  EXPECT_NO_THROW(client->signOut(SignOutScope::others));
  EXPECT_EQ(client->currentSession(), std::nullopt) << "this device's session is gone too";
  EXPECT_THAT(eventsAfterInitial(),
              ElementsAre(AuthChangeEvent::signedOut, AuthChangeEvent::signedOut));
}

TEST_F(SignOutTest, AServerFailureReachesTheCallerAfterTheDeviceSignedOut) {
  signIn();
  server->respondWith(500, R"({"msg":"boom"})");
  Dependencies::update(client->clientID(), [](Dependencies& dependencies) {
    // No pauses between the retries of this test.
    dependencies.http = std::make_shared<HTTPClient>(dependencies.configuration.fetch,
                                                     std::vector<std::shared_ptr<HTTPClientInterceptor>>{});
  });
  EXPECT_THROW(client->signOut(), AuthError);
  EXPECT_EQ(client->currentSession(), std::nullopt);
  EXPECT_THAT(eventsAfterInitial(), ElementsAre(AuthChangeEvent::signedOut));
}

}  // namespace
}  // namespace voduzazi::auth::testing
