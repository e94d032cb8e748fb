// Releasing an auth client while its background work is under way: once the destructor returns,
// nothing the client started runs any more or calls the caller's transport, store, logger,
// listeners or observers; a refresh whose request went out is seen through to its stored answer,
// one still waiting for its turn sends nothing, and a release from inside that work does not
// deadlock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "tests/auth/auth_client_fakes.hpp"
#include "tests/auth/caller_fakes.hpp"
#include "tests/auth/two_clients_on_one_store.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/concurrency/this_task.hpp"
#include "voduzazi/platform/notification_center.hpp"

namespace voduzazi::auth::testing {
namespace {

using namespace std::chrono_literals;

constexpr const char* kStorageKey = "release-test";

// A client as a caller builds it, over what the caller hands it, following a lifecycle of its own.
std::unique_ptr<AuthClient> callersClient(CallerTransport& transport,
                                          std::shared_ptr<CallerStorage> storage,
                                          const std::shared_ptr<CallerRecord>& record) {
  AuthClientConfiguration::Options options;
  options.url = boost::urls::url("https://abcd.example.co/auth/v1");
  options.headers = {{"apikey", "anon-key"}};
  options.storageKey = kStorageKey;
  options.localStorage = std::move(storage);
  options.logger = std::make_shared<CallerLogger>(record);
  options.fetch = transport.fetch();
  return std::make_unique<AuthClient>(AuthClientConfiguration(std::move(options)),
                                      std::make_shared<ApplicationLifecycle>());
}

// Counts the process notifications the clients post, as an observer of the caller's would.
std::shared_ptr<NotificationCenter::Registration> observeAuthNotifications(
    const std::shared_ptr<CallerRecord>& record) {
  return NotificationCenter::defaultCenter().addObserver(
      std::string(didChangeAuthStateNotification), nullptr,
      [record](const Notification&) { record->called("notification observer"); });
}

// How a round of the tests below starts the background work it releases the client in.
enum class Work { autoRefresh, authStateChanges, handle };

// Starts `work` in `client`; each reaches the caller's transport with a request to the token
// endpoint (a refresh, or the code exchange of a deep link) and then writes the store.
void start(Work work, const AuthClient& client,
           std::optional<AsyncStream<AuthStateChange>>& stream) {
  switch (work) {
    case Work::autoRefresh:
      client.startAutoRefresh();
      return;
    case Work::authStateChanges:
      stream.emplace(client.authStateChanges());
      return;
    case Work::handle:
      client.handle(boost::urls::url("myapp://callback?code=deep-link-code"));
      return;
  }
}

// One round: the stored session has a minute left (due for the auto-refresh tick, which looks
// three ticks ahead) or 20 seconds (due for any read). The client is released while `work` is
// under way: held at the transport until the release has begun, or past it in the slow store.
// The transport is destroyed right after. Returns the calls made after the release.
std::vector<std::string> lateCallsOfARound(Work work, CallerTransport::Behaviour server) {
  auto record = std::make_shared<CallerRecord>();
  auto storage = std::make_shared<CallerStorage>(record, /*slowWrites=*/true);
  auto observer = observeAuthNotifications(record);
  {
    CallerTransport transport(record, server);
    auto client = callersClient(transport, storage, record);
    // Attached before there is a session, so that its initial session refreshes nothing.
    auto listening = client->onAuthStateChange(
        [record](AuthChangeEvent, const std::optional<Session>&) { record->called("listener"); });
    storeSessionIn(storage->inner, kStorageKey, "old",
                   secondsFromNow(work == Work::autoRefresh ? 60 : 20));
    std::optional<AsyncStream<AuthStateChange>> stream;
    start(work, *client, stream);
    EXPECT_TRUE(eventually([&] { return record->refreshes.load() == 1; }));
    record->releasing = true;
    client.reset();
    record->release();
  }
  const bool refused = server.refusesRefreshes;
  auto late = lateCallsOnceRefreshed(*record, storage->inner, kStorageKey, refused);
  EXPECT_TRUE(refreshEnded(storage->inner, kStorageKey, refused))
      << "the answer was stored, or the refusal ended the session";
  EXPECT_FALSE(record->refusedAfterDestruction.load());
  return late;
}

// Every other round holds the request at the transport; with `refusals`, every third round's
// server no longer knows the session.
void expectNoLateCalls(Work work, int rounds, bool refusals) {
  int lateRounds = 0;
  for (int round = 0; round < rounds; ++round) {
    const CallerTransport::Behaviour server{.holdsRefreshes = round % 2 == 0,
                                            .refusesRefreshes = refusals && round % 3 == 2};
    const auto late = lateCallsOfARound(work, server);
    if (late.empty()) continue;
    ++lateRounds;
    ADD_FAILURE() << "round " << round << ": " << late.size() << " calls after the release, "
                  << "the first: " << late.front();
  }
  EXPECT_EQ(lateRounds, 0) << "of " << rounds << " rounds";
}

TEST(AuthClientRelease, AnAutoRefreshUnderWayEndsStoreIncludedBeforeTheReleaseReturns) {
  expectNoLateCalls(Work::autoRefresh, 50, /*refusals=*/true);
}

// The initial session of authStateChanges (read, and refreshed, on a task of the client's) and
// a deep link's code exchange (on another) end before the release returns.
TEST(AuthClientRelease, ItsOwnTasksEndBeforeTheReleaseReturns) {
  expectNoLateCalls(Work::authStateChanges, 12, /*refusals=*/true);
  expectNoLateCalls(Work::handle, 10, /*refusals=*/false);
}

// The first client holds the store's refresh turn while its refresh is held at the server; the
// second's refresh waits for that turn.
class ReleaseDuringATurnTest : public TwoClientsOnOneStoreTest {
 protected:
  bool sent(const std::string& refreshToken) const {
    for (const auto& request : server->requests()) {
      const auto body = bodyOf(request);
      const auto* sentToken = body.if_contains("refresh_token");
      if (sentToken && *sentToken == boost::json::value(refreshToken)) return true;
    }
    return false;
  }
};

TEST_F(ReleaseDuringATurnTest, ARefreshWaitingForItsTurnIsCalledOffAndSendsNothing) {
  Gate gate;
  server->respond([&gate](const URLRequest& request) {
    gate.pass();
    return FakeAuthServer::answer(request, 200, sessionBody("fresh", "next", secondsFromNow(3600)));
  });
  storeSession(*first, makeSession("old", "old-refresh", secondsFromNow(20)));
  refreshInBothWhileTheFirstIsHeld(
      gate, [](const SessionManager& m) { return m.refreshSession("own-token"); });

  // The turn would be had only once the first refresh ends, and the wait for it lasts 70 s.
  Task<void> release([&] { second.reset(); });
  EXPECT_TRUE(eventually([&] { return release.isFinished(); }, 20s));
  EXPECT_TRUE(eventually([&] { return secondRefresh->isFinished(); }, 20s));
  gate.open();
  EXPECT_EQ(firstRefresh->value().accessToken, "fresh");
  ASSERT_TRUE(eventually([&] { return release.isFinished() && secondRefresh->isFinished(); }));
  EXPECT_THROW(secondRefresh->value(), CancellationError);
  EXPECT_FALSE(sent("own-token"));
  for (const auto& message : logger->messages()) {
    EXPECT_EQ(message.message.find("Failed to take a refresh turn"), std::string::npos)
        << "a refresh called off is no failure of the store";
  }
}

// Released by a listener on the thread of the auto-refresh tick's refresh, which the loop waits
// for: the release cannot wait for either, and the other listeners hear nothing more.
TEST_F(AuthClientTest, AListenerOnTheRefreshItsLoopWaitsForMayReleaseIt) {
  server->respondWith(200, sessionBody("fresh", "next", secondsFromNow(3600)));
  std::mutex mutex;
  std::unique_ptr<AuthClient> client;
  std::atomic<bool> released{false};
  std::shared_ptr<ObservationToken> releasing;
  EventRecorder later;
  std::shared_ptr<ObservationToken> listening;
  {
    std::lock_guard lock(mutex);
    client = makeClient();
    storeSession(*client, makeSession("old", "old-refresh", secondsFromNow(60)));
    releasing =
        client->onAuthStateChange([&](AuthChangeEvent event, const std::optional<Session>&) {
          if (event != AuthChangeEvent::tokenRefreshed) return;
          std::unique_ptr<AuthClient> gone;
          {
            std::lock_guard lock(mutex);  // until the test has stored the client
            gone = std::move(client);
          }
          gone.reset();
          released = true;
        });
    listening = client->onAuthStateChange(later.listener());
    client->startAutoRefresh();
  }
  ASSERT_TRUE(eventually([&] { return released.load(); }, 20s));
  EXPECT_EQ(later.events(), std::vector{AuthChangeEvent::initialSession});
  EXPECT_EQ(server->requestCount(), 1u);
}

// A server that holds its answers, over a transport that ends a cancelled transfer at once (as
// the library's own does): the release waits a few seconds at most, whether a refresh or a deep
// link's code exchange is under way, and no answer is stored after it.
TEST_F(AuthClientTest, AReleaseCallsOffWhatTheServerHolds) {
  for (const bool deepLink : {false, true}) {
    SCOPED_TRACE(deepLink ? "code exchange" : "refresh");
    std::atomic<int> arrivals = 0;
    server->respond([&arrivals](const URLRequest& request) {
      ++arrivals;
      this_task::sleepFor(20s);  // throws CancellationError once the transfer is called off
      return FakeAuthServer::answer(request, 200,
                                    sessionBody("fresh", "next", secondsFromNow(3600)));
    });
    auto client = makeClient();
    storeSession(*client, makeSession("old", "old-refresh", secondsFromNow(deepLink ? 3600 : 20)));
    std::optional<Task<Session>> caller;
    if (deepLink) {
      client->handle(boost::urls::url("myapp://callback?code=deep-link-code"));
    } else {
      caller.emplace([&client = *client] { return client.session(); });
    }
    ASSERT_TRUE(eventually([&] { return arrivals.load() == 1; }));
    const auto began = std::chrono::steady_clock::now();
    client.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - began, AuthClient::releaseWait + 2s);
    if (caller) {
      EXPECT_THROW(caller->value(), CancellationError);
    }
    EXPECT_EQ(makeClient()->currentSession()->accessToken, "old");
  }
}

TEST_F(AuthClientTest, AClosedClientStartsNothing) {
  server->respondWith(200, sessionBody("fresh", "next", secondsFromNow(3600)));
  auto options = this->options();
  options.logger = logger;
  auto client = makeClient(options);
  storeSession(*client, makeSession("old", "old-refresh", secondsFromNow(20)));
  client->close();
  const auto linesAtClose = logger->messages().size();

  client->startAutoRefresh();
  lifecycle->setActivity(ApplicationActivity::active);
  client->handle(boost::urls::url("myapp://callback?code=deep-link-code"));
  EXPECT_FALSE(client->authStateChanges().next()) << "a finished stream";
  EXPECT_THROW(client->session(), CancellationError) << "a due session is not refreshed";
  EXPECT_EQ(client->currentSession()->accessToken, "old");
  client->close();
  client.reset();
  EXPECT_EQ(server->requestCount(), 0u);
  const auto lines = logger->messages();
  for (std::size_t line = linesAtClose; line < lines.size(); ++line) {
    EXPECT_EQ(lines[line].message.find("auto refresh token"), std::string::npos)
        << lines[line].message;
  }
}

}  // namespace
}  // namespace voduzazi::auth::testing
