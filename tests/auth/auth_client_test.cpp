#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/auth/auth_client_fakes.hpp"
#include "voduzazi/auth/auth_client_logger_decorator.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::Pair;

TEST(AuthClientConfiguration, FillsInTheLoopbackURLAndTheClientInfoHeader) {
  AuthClientConfiguration::Options options;
  options.headers = {{"apikey", "key"}};
  options.localStorage = std::make_shared<InMemoryAuthLocalStorage>();
  const AuthClientConfiguration configuration(options);
  EXPECT_EQ(configuration.url.buffer(), "http://localhost:9999");
  EXPECT_THAT(configuration.headers,
              ElementsAre(Pair("X-Client-Info", "zazu-zivad/2.33.2"), Pair("apikey", "key")));
  EXPECT_EQ(configuration.flowType, AuthFlowType::pkce);
  EXPECT_TRUE(configuration.autoRefreshToken);
  EXPECT_EQ(configuration.encoder, AuthClientConfiguration::jsonEncoder());
}

TEST(AuthClientConfiguration, KeepsTheCallersClientInfoComparedLetterForLetter) {
  AuthClientConfiguration::Options options;
  options.localStorage = std::make_shared<InMemoryAuthLocalStorage>();
  options.headers = {{"X-Client-Info", "facade/1.0"}};
  EXPECT_THAT(AuthClientConfiguration(options).headers,
              ElementsAre(Pair("X-Client-Info", "facade/1.0")));
  options.headers = {{"x-client-info", "facade/1.0"}};
  EXPECT_EQ(AuthClientConfiguration(options).headers.size(), 2u);
}

TEST(AuthClientLoggerDecorator, TagsEveryLineWithItsClientID) {
  auto logger = std::make_shared<RecordingLogger>();
  AuthClientLoggerDecorator decorator(7, logger);
  VoduzaziLogMessage message;
  message.message = "hello";
  message.additionalContext = {{"client_id", AnyJSON(1)}, {"other", AnyJSON("kept")}};
  decorator.log(message);
  ASSERT_EQ(logger->messages().size(), 1u);
  EXPECT_EQ(logger->messages()[0].additionalContext,
            (JSONObject{{"client_id", AnyJSON(7)}, {"other", AnyJSON("kept")}}));
}

class AuthClientBasicsTest : public AuthClientTest {};

TEST_F(AuthClientBasicsTest, ClientsGetIncreasingIDsAndSeparateEntries) {
  auto first = makeClient();
  auto options = this->options();
  options.url = boost::urls::url("https://second.example.com/auth/v1");
  options.logger = logger;
  auto second = makeClient(options);
  EXPECT_EQ(second->clientID(), first->clientID() + 1);
  EXPECT_EQ(Dependencies::get(first->clientID()).configuration.url.host(), "project.example.com");
  EXPECT_EQ(Dependencies::get(first->clientID()).logger, nullptr) << "no logger, no decorator";
  const auto tagged = std::dynamic_pointer_cast<AuthClientLoggerDecorator>(
      Dependencies::get(second->clientID()).logger);
  ASSERT_NE(tagged, nullptr);
  EXPECT_EQ(tagged->clientID(), second->clientID());

  const std::int64_t released = first->clientID();
  first.reset();
  EXPECT_EQ(Dependencies::get(released).configuration.url.host(), "project.example.com");
}

TEST_F(AuthClientBasicsTest, CurrentSessionIsTheStoredOneAndSessionRefreshesIt) {
  auto client = makeClient();
  EXPECT_EQ(client->currentSession(), std::nullopt);
  EXPECT_EQ(client->currentUser(), std::nullopt);
  const Session expired = makeSession("old", "old-refresh", secondsFromNow(-60));
  storeSession(*client, expired);
  server->respondWith(200, sessionBody("new", "new-refresh", secondsFromNow(3600)));

  EXPECT_EQ(client->currentSession(), expired);
  EXPECT_EQ(client->currentUser(), expired.user);
  EXPECT_EQ(server->requestCount(), 0u);
  EXPECT_EQ(client->session().accessToken, "new");
}

TEST_F(AuthClientBasicsTest, EachListenerGetsItsOwnInitialSessionBeforeSubscribingReturns) {
  auto client = makeClient();
  EventRecorder first;
  auto firstToken = client->onAuthStateChange(first.listener());
  ASSERT_EQ(first.entries().size(), 1u);
  EXPECT_EQ(first.entries()[0].event, AuthChangeEvent::initialSession);
  EXPECT_EQ(first.entries()[0].session, std::nullopt);

  const Session stored = makeSession("access", "refresh", secondsFromNow(3600));
  storeSessionHere(*client, stored);
  EventRecorder second;
  auto secondToken = client->onAuthStateChange(second.listener());
  ASSERT_EQ(second.entries().size(), 1u);
  EXPECT_EQ(second.entries()[0].session, stored);
  EXPECT_EQ(first.entries().size(), 1u) << "another listener's INITIAL_SESSION is not ours";

  secondToken.reset();
  Dependencies::get(client->clientID()).eventEmitter.emit(AuthChangeEvent::signedOut,
                                                          std::nullopt);
  EXPECT_EQ(second.entries().size(), 1u) << "a released registration hears nothing more";
  EXPECT_EQ(first.entries().size(), 2u);
}

TEST_F(AuthClientBasicsTest, TheStreamStartsWithTheInitialSessionAndKeepsEveryEvent) {
  auto client = makeClient();
  auto stream = client->authStateChanges();
  auto first = stream.next();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->event, AuthChangeEvent::initialSession);

  const auto emitter = Dependencies::get(client->clientID()).eventEmitter;
  const Session session = makeSession("a", "r", secondsFromNow(3600));
  emitter.emit(AuthChangeEvent::signedIn, session);
  emitter.emit(AuthChangeEvent::signedOut, std::nullopt);
  auto signedIn = stream.next();
  auto signedOut = stream.next();
  ASSERT_TRUE(signedIn && signedOut);
  EXPECT_EQ(signedIn->event, AuthChangeEvent::signedIn);
  EXPECT_EQ(signedIn->session, session);
  EXPECT_EQ(signedOut->event, AuthChangeEvent::signedOut);
}

class AuthClientLifecycleTest : public AuthClientTest {
 protected:
  std::unique_ptr<AuthClient> makeLoggedClient(bool autoRefreshToken) {
    auto options = this->options();
    options.logger = logger;
    options.autoRefreshToken = autoRefreshToken;
    return makeClient(options);
  }

  // The loop's starts and stops, as the session manager logs them.
  std::vector<std::string> switches() const {
    std::vector<std::string> lines;
    for (const auto& message : logger->messages()) {
      if (message.message.ends_with("auto refresh token")) lines.push_back(message.message);
    }
    return lines;
  }
};

TEST_F(AuthClientLifecycleTest, ActivityStartsAndStopsAutoRefreshOnlyWhenConfigured) {
  auto client = makeLoggedClient(true);
  EXPECT_THAT(switches(), ElementsAre()) << "auto-refresh is off after construction";
  lifecycle->setActivity(ApplicationActivity::active);
  lifecycle->setActivity(ApplicationActivity::inactive);
  EXPECT_THAT(switches(), ElementsAre("start auto refresh token", "stop auto refresh token"));
}

TEST_F(AuthClientLifecycleTest, WithoutAutoRefreshActivityChangesNothingButCallsDo) {
  auto client = makeLoggedClient(false);
  lifecycle->setActivity(ApplicationActivity::active);
  lifecycle->setActivity(ApplicationActivity::inactive);
  EXPECT_THAT(switches(), ElementsAre());
  client->startAutoRefresh();
  client->stopAutoRefresh();
  EXPECT_THAT(switches(), ElementsAre("start auto refresh token", "stop auto refresh token"));
}

TEST_F(AuthClientLifecycleTest, AClientMadeWhileActiveStartsAtOnceAndStopsWhenReleased) {
  lifecycle->setActivity(ApplicationActivity::active);
  server->respondWith(200, sessionBody("refreshed", "next", secondsFromNow(3600)));
  auto client = makeLoggedClient(true);
  storeSession(*client, makeSession("old", "old-refresh", secondsFromNow(60)));
  EXPECT_THAT(switches(), ElementsAre("start auto refresh token"));
  const std::int64_t id = client->clientID();
  client.reset();
  EXPECT_THAT(switches(), ElementsAre("start auto refresh token", "stop auto refresh token"));
  lifecycle->setActivity(ApplicationActivity::inactive);
  lifecycle->setActivity(ApplicationActivity::active);
  EXPECT_EQ(switches().size(), 2u) << "a released client no longer follows the application";
  EXPECT_NO_THROW(Dependencies::get(id).sessionStorage.get()) << "its entry stays";
}

TEST(AuthDependenciesDeathTest, AnUnknownClientIDStopsTheProgram) {
  EXPECT_DEATH(Dependencies::get(987654321), "Dependencies not found for id: 987654321");
}

}  // namespace
}  // namespace voduzazi::auth::testing
