#include "voduzazi/auth/session_manager.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>

#include "tests/auth/auth_client_fakes.hpp"
#include "tests/auth/storage_test_support.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;
using namespace std::chrono_literals;

class SessionManagerTest : public AuthClientTest {
 protected:
  SessionManagerTest() : client(makeClient()) {
    recorderToken = client->onAuthStateChange(recorder.listener());
  }

  SessionManager manager() const { return Dependencies::get(client->clientID()).sessionManager; }

  std::size_t refreshRequests() const {
    std::size_t count = 0;
    for (const auto& request : server->requests()) {
      if (queryOf(request)["grant_type"] == "refresh_token") ++count;
    }
    return count;
  }

  std::unique_ptr<AuthClient> client;
  EventRecorder recorder;
  std::shared_ptr<ObservationToken> recorderToken;
};

TEST_F(SessionManagerTest, RefreshesASessionExpiringWithin30Seconds) {
  auto clock = std::make_shared<TestClock>();
  const Date start = std::chrono::system_clock::now();
  driveTimeWith(*client, clock, start);
  const double now = std::chrono::duration<double>(start.time_since_epoch()).count();
  server->respondWith(200, sessionBody("fresh-access", "fresh-refresh", now + 3600));

  storeSessionHere(*client, makeSession("access-31", "refresh-31", now + 31));
  EXPECT_EQ(manager().session().accessToken, "access-31");
  EXPECT_EQ(server->requestCount(), 0u);

  storeSessionHere(*client, makeSession("access-29", "refresh-29", now + 29));
  EXPECT_EQ(manager().session().accessToken, "fresh-access");
  ASSERT_EQ(server->requestCount(), 1u);
  const URLRequest refresh = server->requests()[0];
  EXPECT_EQ(refresh.httpMethod, "POST");
  EXPECT_EQ(refresh.url.path(), "/auth/v1/token");
  EXPECT_EQ(queryOf(refresh),
            (std::map<std::string, std::string>{{"grant_type", "refresh_token"}}));
  EXPECT_EQ(bodyOf(refresh), (boost::json::object{{"refresh_token", "refresh-29"}}));
  EXPECT_EQ(refresh.value("Authorization"), std::nullopt);
  EXPECT_EQ(client->currentSession()->accessToken, "fresh-access");
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::tokenRefreshed));
}

TEST_F(SessionManagerTest, RefreshesThroughAnAuthURLWithATrailingSlash) {
  auto options = this->options();
  options.url = boost::urls::url("https://project.example.com/auth/v1/");
  auto slashed = makeClient(options);
  server->respondWith(200, sessionBody("fresh", "next", secondsFromNow(3600)));
  Dependencies::get(slashed->clientID()).sessionManager.refreshSession("token");
  ASSERT_EQ(server->requestCount(), 1u);
  EXPECT_EQ(server->requests()[0].url.path(), "/auth/v1/token");
}

TEST_F(SessionManagerTest, ConcurrentRefreshesShareOneRequest) {
  auto options = this->options();
  options.logger = logger;
  auto logged = makeClient(options);
  const SessionManager shared = Dependencies::get(logged->clientID()).sessionManager;
  EventRecorder events;
  auto token = logged->onAuthStateChange(events.listener());
  Gate gate;
  server->respond([&](const URLRequest& request) {
    gate.pass();
    return FakeAuthServer::answer(request, 200,
                                  sessionBody("shared", "next", secondsFromNow(3600)));
  });

  Task<Session> first([shared] { return shared.refreshSession("first-token"); });
  ASSERT_TRUE(eventually([&] { return gate.arrivals() == 1; }));
  Task<Session> second([shared] { return shared.refreshSession("second-token"); });
  ASSERT_TRUE(eventually([&] {
    for (const auto& message : logger->messages()) {
      if (message.message == "Refresh already in flight") return true;
    }
    return false;
  }));
  gate.open();

  EXPECT_EQ(first.value().accessToken, "shared");
  EXPECT_EQ(second.value().accessToken, "shared");
  ASSERT_EQ(server->requestCount(), 1u);
  EXPECT_EQ(bodyOf(server->requests()[0]).at("refresh_token"), "first-token");
  EXPECT_THAT(events.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::tokenRefreshed));
}

TEST_F(SessionManagerTest, AFailedRefreshDoesNotLinger) {
  server->respondWith(500, R"({"msg":"down"})");
  EXPECT_THROW(manager().refreshSession("token"), AuthError);
  server->respondWith(200, sessionBody("later", "next", secondsFromNow(3600)));
  EXPECT_EQ(manager().refreshSession("token").accessToken, "later");
  EXPECT_EQ(refreshRequests(), 2u);
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::tokenRefreshed));
}

// Answers refresh grants with `refresh` once `gate` opens, and sign-outs at once.
FakeAuthServer::Responder heldRefresh(Gate& gate, int status, std::string body) {
  return [&gate, status, body](const URLRequest& request) {
    if (queryOf(request)["grant_type"] != "refresh_token") {
      return FakeAuthServer::answer(request, 204, "");
    }
    gate.pass();
    return FakeAuthServer::answer(request, status, body);
  };
}

TEST_F(SessionManagerTest, ARefreshOvertakenBySignOutDoesNotBringTheSessionBack) {
  storeSession(*client, makeSession("old", "old-refresh", secondsFromNow(3600)));
  Gate gate;
  server->respond(heldRefresh(gate, 200, sessionBody("fresh", "next", secondsFromNow(3600))));
  Task<Session> refresh([m = manager()] { return m.refreshSession("old-refresh"); });
  ASSERT_TRUE(eventually([&] { return gate.arrivals() == 1; }));
  client->signOut();
  gate.open();

  EXPECT_EQ(refresh.value().accessToken, "fresh");
  EXPECT_EQ(client->currentSession(), std::nullopt);
  EXPECT_THAT(recorder.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::signedOut));
}

TEST_F(SessionManagerTest, ARefusedRefreshOfAReplacedSessionLeavesTheNewOneAlone) {
  storeSession(*client, makeSession("old", "old-refresh", secondsFromNow(3600)));
  Gate gate;
  server->respond(heldRefresh(gate, 400, R"({"code":"refresh_token_not_found"})"));
  Task<Session> refresh([m = manager()] { return m.refreshSession("old-refresh"); });
  ASSERT_TRUE(eventually([&] { return gate.arrivals() == 1; }));
  const Session signedIn = makeSession("new", "new-refresh", secondsFromNow(3600));
  manager().update(signedIn);
  gate.open();

  EXPECT_THROW(refresh.value(), AuthError);
  EXPECT_EQ(client->currentSession(), signedIn);
  EXPECT_THAT(recorder.events(), ElementsAre(AuthChangeEvent::initialSession));
}

TEST_F(SessionManagerTest, AListenerMayReadTheSessionAndRefreshAgainFromTokenRefreshed) {
  server->respondWith(200, sessionBody("fresh", "next", secondsFromNow(3600)));
  std::optional<Session> seen;
  std::optional<Session> again;
  recorder.onEvent = [&](AuthChangeEvent event, const std::optional<Session>&) {
    if (event != AuthChangeEvent::tokenRefreshed || seen) return;
    seen = client->session();
    again = manager().refreshSession("next");
  };
  manager().refreshSession("token");
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->accessToken, "fresh");
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(refreshRequests(), 2u);
}

TEST_F(SessionManagerTest, LogsAFingerprintOfTheRefreshTokenNeverTheToken) {
  auto options = this->options();
  options.logger = logger;
  auto logged = makeClient(options);
  server->respondWith(200, sessionBody("fresh", "next", secondsFromNow(3600)));
  const std::string secret = "very-secret-refresh-token";
  Dependencies::get(logged->clientID()).sessionManager.refreshSession(secret);

  bool sawContext = false;
  for (const auto& message : logger->messages()) {
    EXPECT_EQ(message.message.find(secret), std::string::npos) << message.message;
    for (const auto& [key, value] : message.additionalContext) {
      EXPECT_EQ(value.description().find(secret), std::string::npos) << key;
    }
    if (message.message == "Refresh task started") {
      sawContext = true;
      EXPECT_EQ(message.fileID, "Auth/SessionManager");
      EXPECT_EQ(message.system, "Auth");
      EXPECT_EQ(message.additionalContext.at("refresh_token"),
                AnyJSON(detail::refreshTokenFingerprint(secret)));
      EXPECT_EQ(message.additionalContext.at("client_id"), AnyJSON(logged->clientID()));
      EXPECT_TRUE(message.additionalContext.contains("refresh_id"));
    }
  }
  EXPECT_TRUE(sawContext);
  EXPECT_EQ(detail::refreshTokenFingerprint(secret).size(), 12u);
  EXPECT_NE(detail::refreshTokenFingerprint(secret), detail::refreshTokenFingerprint("other"));
}

TEST_F(SessionManagerTest, ATokenAReplacedRefreshSpentIsNeverSentAgain) {
  ChainingRefreshServer chain;
  server->respond(chain.responder());
  storeSession(*client, makeSession("access-1", "refresh-1", secondsFromNow(20)));

  EXPECT_EQ(manager().refreshSession("refresh-1").accessToken, "access-2");
  // A caller that read the session before that refresh completed gets its replacement.
  EXPECT_EQ(manager().refreshSession("refresh-1").accessToken, "access-2");
  EXPECT_EQ(manager().session().accessToken, "access-3");
  EXPECT_EQ(manager().refreshSession("refresh-1").accessToken, "access-3");
  EXPECT_EQ(manager().refreshSession("refresh-2").accessToken, "access-3");
  EXPECT_EQ(refreshRequests(), 2u);
  EXPECT_THAT(chain.resent(), ::testing::IsEmpty());

  // A new sign-in starts a new family: its tokens owe nothing to the old ones.
  manager().update(makeSession("access-10", "refresh-10", secondsFromNow(20)));
  EXPECT_EQ(manager().refreshSession("refresh-10").accessToken, "access-11");
  EXPECT_EQ(refreshRequests(), 3u);
}

TEST_F(SessionManagerTest, ARefreshWhoseAnswerCannotBeStoredNeverSendsTheSpentTokenAgain) {
  ChainingRefreshServer chain;
  server->respond(chain.responder());
  const auto faulty = std::make_shared<FaultyStorage>();
  storage = faulty;
  const auto unstorable = makeClient();
  storeSession(*unstorable, makeSession("access-1", "refresh-1", secondsFromNow(20)));
  faulty->failStoreOf.insert("voduzazi.auth.token");
  const SessionManager refreshing = Dependencies::get(unstorable->clientID()).sessionManager;

  EXPECT_EQ(refreshing.session().accessToken, "access-2");
  // The store still holds the session whose token that refresh spent: it is gone, not resent.
  EXPECT_THROW(refreshing.session(), AuthError);
  EXPECT_THROW(refreshing.refreshSession("refresh-1"), AuthError);
  EXPECT_THAT(chain.resent(), ::testing::IsEmpty());
  EXPECT_EQ(refreshRequests(), 1u);
}

// Eight threads reading the session 25 times each; returns how many reads failed.
int readInABurst(const SessionManager& shared) {
  std::atomic<int> failures = 0;
  std::vector<Task<void>> readers;
  for (int thread = 0; thread < 8; ++thread) {
    readers.emplace_back([shared, &failures] {
      for (int read = 0; read < 25; ++read) {
        try {
          shared.session();
        } catch (const AuthError&) {
          ++failures;
        }
      }
    });
  }
  for (auto& reader : readers) reader.value();
  return failures;
}

TEST_F(SessionManagerTest, ConcurrentReadersAcrossRefreshesSendEachTokenOnce) {
  ChainingRefreshServer chain;
  server->respond(chain.responder());
  storeSession(*client, makeSession("access-1", "refresh-1", secondsFromNow(20)));
  const SessionManager shared = manager();
  EXPECT_EQ(readInABurst(shared), 0);
  EXPECT_THAT(chain.resent(), ::testing::IsEmpty());
  EXPECT_NO_THROW(manager().session());
}

// Keeps the error lines only: a burst of refreshes logs thousands of debug lines.
class ErrorLogger : public VoduzaziLogger {
 public:
  using VoduzaziLogger::log;
  void log(const VoduzaziLogMessage& message) override {
    if (message.level != VoduzaziLogLevel::error) return;
    std::lock_guard lock(mutex_);
    errors_.push_back(message.message);
  }
  std::vector<std::string> errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> errors_;
};

TEST_F(SessionManagerTest, AServerThatDoesNotRotateRefreshTokensKeepsTheSessionUsable) {
  auto options = this->options();
  const auto errors = std::make_shared<ErrorLogger>();
  options.logger = errors;
  auto logged = makeClient(options);
  const SessionManager shared = Dependencies::get(logged->clientID()).sessionManager;
  std::atomic<int> refreshes = 0;
  server->respond(nonRotatingRefresh(refreshes));
  storeSession(*logged, makeSession("access-0", "kept-refresh", secondsFromNow(20)));

  for (int round = 1; round <= 10; ++round) {
    EXPECT_EQ(shared.session().accessToken, "access-" + std::to_string(round));
  }
  EXPECT_EQ(shared.refreshSession("kept-refresh").accessToken, "access-11");
  EXPECT_EQ(refreshRequests(), 11u);

  EXPECT_EQ(readInABurst(shared), 0);
  EXPECT_EQ(logged->currentSession()->refreshToken, "kept-refresh");
  EXPECT_THAT(errors->errors(), ::testing::IsEmpty());
}

TEST_F(SessionManagerTest, AnUnstoredAnswerThatKeptTheTokenLeavesItUsable) {
  std::atomic<int> refreshes = 0;
  server->respond(nonRotatingRefresh(refreshes));
  const auto faulty = std::make_shared<FaultyStorage>();
  storage = faulty;
  const auto unstorable = makeClient();
  storeSession(*unstorable, makeSession("access-0", "kept-refresh", secondsFromNow(20)));
  faulty->failStoreOf.insert("voduzazi.auth.token");
  const SessionManager refreshing = Dependencies::get(unstorable->clientID()).sessionManager;

  // The server spent nothing: the stored token still works, and is sent again.
  EXPECT_EQ(refreshing.session().accessToken, "access-1");
  EXPECT_EQ(refreshing.session().accessToken, "access-2");
  EXPECT_EQ(refreshing.refreshSession("kept-refresh").accessToken, "access-3");
}

class AutoRefreshTest : public SessionManagerTest {
 protected:
  AutoRefreshTest() {
    auto options = this->options();
    options.logger = logger;
    logged = makeClient(options);
    driveTimeWith(*logged, clock, start);
  }

  double now() const { return std::chrono::duration<double>(start.time_since_epoch()).count(); }

  // Lets the loop run until it sleeps on the test clock, so that an advance reaches it.
  void waitUntilSleeping() const {
    ASSERT_TRUE(eventually([&] {
      try {
        clock->checkSuspension();
        return false;
      } catch (const SuspensionError&) {
        return true;
      }
    }));
  }

  std::size_t ticksLogged(const std::string& ticks) const {
    std::size_t count = 0;
    for (const auto& message : logger->messages()) {
      if (message.message == "access token expires in " + ticks +
                                 " ticks, a tick lasts 30.0s, refresh threshold is 3 ticks") {
        ++count;
      }
    }
    return count;
  }

  std::shared_ptr<TestClock> clock = std::make_shared<TestClock>();
  Date start = std::chrono::system_clock::now();
  std::unique_ptr<AuthClient> logged;
};

TEST_F(AutoRefreshTest, RefreshesOnceAtMostThreeTicksAreLeft) {
  server->respondWith(200, sessionBody("fresh", "next", now() + 3600));
  storeSession(*logged, makeSession("old", "old-refresh", now() + 121));

  logged->startAutoRefresh();
  ASSERT_TRUE(eventually([&] { return ticksLogged("4") == 1; }));
  EXPECT_EQ(server->requestCount(), 0u);

  waitUntilSleeping();
  clock->advance(30s);
  ASSERT_TRUE(eventually([&] { return server->requestCount() == 1; }));
  EXPECT_EQ(ticksLogged("3"), 1u);
  EXPECT_EQ(bodyOf(server->requests()[0]).at("refresh_token"), "old-refresh");
  ASSERT_TRUE(eventually([&] { return logged->currentSession()->accessToken == "fresh"; }));
  logged->stopAutoRefresh();
}

TEST_F(AutoRefreshTest, StartingTwiceKeepsOneLoopAndStopEndsIt) {
  // 120.5 ticks, so no rounding at a tick boundary.
  storeSession(*logged, makeSession("old", "old-refresh", now() + 3615));
  auto live = std::make_shared<LiveSessionManager>(logged->clientID());
  live->startAutoRefreshToken();
  live->startAutoRefreshToken();
  EXPECT_TRUE(live->isAutoRefreshRunning());
  ASSERT_TRUE(eventually([&] { return ticksLogged("120") >= 1; }));
  waitUntilSleeping();
  clock->advance(30s);
  ASSERT_TRUE(eventually([&] { return ticksLogged("119") >= 1; }));
  EXPECT_EQ(ticksLogged("119"), 1u) << "only one loop ticks";

  live->stopAutoRefreshToken();
  EXPECT_FALSE(live->isAutoRefreshRunning());
  live->stopAutoRefreshToken();  // without a loop it only logs
  clock->advance(60s);
  EXPECT_EQ(ticksLogged("117"), 0u);
  EXPECT_EQ(ticksLogged("118"), 0u);
}

}  // namespace
}  // namespace voduzazi::auth::testing
