// Releasing the facade while its background work is under way: once the destructor returns,
// nothing it started calls the caller's transport, store, logger or observers again, and a
// release from inside one of its own listeners does not deadlock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/auth/auth_client_fakes.hpp"
#include "tests/auth/caller_fakes.hpp"
#include "tests/realtime/misbehaving_server.hpp"
#include "tests/realtime/thread_count.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/client/voduzazi_client.hpp"

namespace voduzazi::testing {
namespace {

using namespace std::chrono_literals;
using auth::testing::CallerLogger;
using auth::testing::CallerRecord;
using auth::testing::CallerStorage;
using auth::testing::CallerTransport;
using auth::testing::FakeAuthServer;
using auth::testing::Gate;
using auth::testing::makeSession;
using auth::testing::secondsFromNow;
using auth::testing::sessionBody;

constexpr const char* kProject = "https://abcd.example.co";
constexpr const char* kKey = "anon-key";
constexpr const char* kStorageKey = "release-test";

HTTPSession sessionOf(CallerTransport& transport) {
  const FetchHandler send = transport.fetch();
  return {send, [send](const URLRequest& request, const Data&) { return send(request); }};
}

VoduzaziClientOptions optionsFor(HTTPSession session, std::shared_ptr<CallerStorage> storage,
                                 std::shared_ptr<CallerRecord> record) {
  VoduzaziClientOptions options;
  options.global.session = std::move(session);
  options.global.logger = std::make_shared<CallerLogger>(std::move(record));
  options.auth.storage = std::move(storage);
  options.auth.storageKey = kStorageKey;
  return options;
}

void storeSession(auth::InMemoryAuthLocalStorage& storage, const std::string& accessToken,
                  double expiresAt) {
  auth::testing::storeSessionIn(storage, kStorageKey, accessToken, expiresAt);
}

bool holdsToken(auth::InMemoryAuthLocalStorage& storage, const std::string& accessToken) {
  return auth::testing::holdsToken(storage, kStorageKey, accessToken);
}

// Fails the test for calls made after the release; returns whether there were any.
bool reportedLate(const std::vector<std::string>& late, int round) {
  if (late.empty()) return false;
  ADD_FAILURE() << "round " << round << ": " << late.size() << " calls after the release, "
                << "the first: " << late.front();
  return true;
}

// The stored session is due for a refresh, which the facade starts at once for its first auth
// event; it is released while that refresh is under way (held back until the release in every
// other round, answered at once in the others; refused in every third), and its transport is
// destroyed right after.
TEST(FacadeRelease, NothingItStartedCallsWhatTheCallerPassedInOnceReleased) {
  constexpr int rounds = 50;
  int lateRounds = 0;
  for (int round = 0; round < rounds; ++round) {
    auto record = std::make_shared<CallerRecord>();
    auto storage = std::make_shared<CallerStorage>(record);
    storeSession(storage->inner, "old", secondsFromNow(20));
    auto observer = NotificationCenter::defaultCenter().addObserver(
        std::string(auth::didChangeAuthStateNotification), nullptr,
        [record](const Notification&) { record->called("notification observer"); });
    {
      const CallerTransport::Behaviour behaviour{.holdsRefreshes = round % 2 == 0,
                                                 .refusesRefreshes = round % 3 == 2};
      CallerTransport transport(record, behaviour);
      auto client = std::make_unique<VoduzaziClient>(
          kProject, kKey, optionsFor(sessionOf(transport), storage, record));
      ASSERT_TRUE(eventually([&] { return record->refreshes.load() == 1; }));
      record->releasing = true;
      client.reset();
      record->release();
    }
    // Before the fix the refresh went on past the release: let it end before counting.
    const bool refused = round % 3 == 2;
    ASSERT_TRUE(eventually([&] {
      const bool ended = refused ? !storage->inner.retrieve(kStorageKey).has_value()
                                 : holdsToken(storage->inner, "fresh");
      return ended || record->refusedAfterDestruction.load();
    }));
    observer.reset();
    const auto late = record->lateCalls();
    lateRounds += reportedLate(late, round);
    EXPECT_FALSE(record->refusedAfterDestruction.load()) << "round " << round;
  }
  EXPECT_EQ(lateRounds, 0) << "of " << rounds << " rounds";
}

// The stored session has a minute left, so reading it refreshes nothing, but the auto-refresh
// tick, two ticks from expiry, refreshes it. The facade is released while that refresh is under
// way (held at the transport until the release in every other round, in the slow store in the
// others; refused in every third, so that the slow write is the removal), and its transport is
// destroyed right after.
TEST(FacadeRelease, AnAutoRefreshUnderWayEndsStoreIncludedBeforeTheReleaseReturns) {
  constexpr int rounds = 50;
  int lateRounds = 0;
  for (int round = 0; round < rounds; ++round) {
    auto record = std::make_shared<CallerRecord>();
    auto storage = std::make_shared<CallerStorage>(record, /*slowWrites=*/true);
    storeSession(storage->inner, "old", secondsFromNow(60));
    auto observer = NotificationCenter::defaultCenter().addObserver(
        std::string(auth::didChangeAuthStateNotification), nullptr,
        [record](const Notification&) { record->called("notification observer"); });
    {
      CallerTransport transport(
          record, {.holdsRefreshes = round % 2 == 0, .refusesRefreshes = round % 3 == 2});
      auto client = std::make_unique<VoduzaziClient>(
          kProject, kKey, optionsFor(sessionOf(transport), storage, record));
      client->auth().startAutoRefresh();
      ASSERT_TRUE(eventually([&] { return record->refreshes.load() == 1; }));
      record->releasing = true;
      client.reset();
      record->release();
    }
    const bool refused = round % 3 == 2;
    const auto late =
        auth::testing::lateCallsOnceRefreshed(*record, storage->inner, kStorageKey, refused);
    observer.reset();
    EXPECT_TRUE(auth::testing::refreshEnded(storage->inner, kStorageKey, refused))
        << "round " << round;
    lateRounds += reportedLate(late, round);
    EXPECT_FALSE(record->refusedAfterDestruction.load()) << "round " << round;
  }
  EXPECT_EQ(lateRounds, 0) << "of " << rounds << " rounds";
}

// Released by its own listener on the thread of a refresh that its auth-event task waits for:
// the release cannot wait for that task, and must not try to.
TEST(FacadeRelease, AListenerOnTheRefreshThatTheFacadeWaitsForMayReleaseIt) {
  auto record = std::make_shared<CallerRecord>();
  auto storage = std::make_shared<CallerStorage>(record);
  Gate refresh;
  HTTPSession session;
  session.data = [&refresh](const URLRequest& request) {
    if (!request.url.path().ends_with("/token")) return FakeAuthServer::answer(request, 200, "[]");
    refresh.pass();
    return FakeAuthServer::answer(request, 200, sessionBody("fresh", "next", secondsFromNow(3600)));
  };
  // Due, so the initial session that the auth-event task reads waits for its refresh.
  storeSession(storage->inner, "old", secondsFromNow(20));
  std::mutex mutex;
  std::unique_ptr<VoduzaziClient> client;
  std::shared_ptr<ObservationToken> listening;
  std::atomic<bool> released{false};
  {
    std::lock_guard lock(mutex);  // until the test has stored the facade
    client = std::make_unique<VoduzaziClient>(kProject, kKey, optionsFor(session, storage, record));
    // Attached to the emitter itself: a listener of the client's would read the session first.
    listening = auth::Dependencies::get(client->auth().clientID())
                    .eventEmitter.attach([&](auth::AuthChangeEvent event,
                                             const std::optional<auth::Session>&) {
                      if (event != auth::AuthChangeEvent::tokenRefreshed) return;
                      std::unique_ptr<VoduzaziClient> releasing;
                      {
                        std::lock_guard lock(mutex);
                        releasing = std::move(client);
                      }
                      releasing.reset();
                      released = true;
                    });
  }
  ASSERT_TRUE(eventually([&] { return refresh.arrivals() == 1; }));
  refresh.open();
  EXPECT_TRUE(eventually([&] { return released.load(); }, 20s));
}

// Released by a notification observer on the auth-event task's own thread, as it hands that task
// its initial session: the release cannot wait for the task it runs on.
TEST(FacadeRelease, AnObserverOnTheAuthEventTaskMayReleaseIt) {
  auto record = std::make_shared<CallerRecord>();
  auto storage = std::make_shared<CallerStorage>(record);
  HTTPSession session;
  session.data = [](const URLRequest& request) {
    return FakeAuthServer::answer(request, 200, "[]");
  };
  const auto testThread = std::this_thread::get_id();
  std::mutex mutex;
  std::unique_ptr<VoduzaziClient> client;
  std::atomic<bool> released{false};
  auto observer = NotificationCenter::defaultCenter().addObserver(
      std::string(auth::didChangeAuthStateNotification), nullptr, [&](const Notification&) {
        if (std::this_thread::get_id() == testThread || released) return;
        std::unique_ptr<VoduzaziClient> releasing;
        {
          std::lock_guard lock(mutex);  // until the test has stored the facade
          releasing = std::move(client);
        }
        releasing.reset();
        released = true;
      });
  {
    std::lock_guard lock(mutex);
    client = std::make_unique<VoduzaziClient>(kProject, kKey, optionsFor(session, storage, record));
  }
  EXPECT_TRUE(eventually([&] { return released.load(); }, 20s));
  observer.reset();
}

// Released by a listener on the thread that emits an event while its auth-event task waits for
// nothing of that thread: the release waits for the task.
TEST(FacadeRelease, AListenerOnAnEmittingThreadMayReleaseIt) {
  auto record = std::make_shared<CallerRecord>();
  auto storage = std::make_shared<CallerStorage>(record);
  HTTPSession session;
  session.data = [](const URLRequest& request) {
    return FakeAuthServer::answer(request, 200, "[]");
  };
  auto client =
      std::make_unique<VoduzaziClient>(kProject, kKey, optionsFor(session, storage, record));
  const auto task = client->mutableState().listenForAuthEventsTask;
  ASSERT_TRUE(task);
  ASSERT_TRUE(eventually([&] { return client->mutableState().realtime != nullptr; }));
  auto listening = client->auth().onAuthStateChange(
      [&](auth::AuthChangeEvent event, const std::optional<auth::Session>&) {
        if (event == auth::AuthChangeEvent::signedIn) client.reset();
      });
  // A copy of the client's emitter, usable after the client is gone.
  const auto emitter = auth::Dependencies::get(client->auth().clientID()).eventEmitter;
  emitter.emit(auth::AuthChangeEvent::signedIn, makeSession("signed", "in", secondsFromNow(3600)));
  EXPECT_FALSE(client);
  EXPECT_TRUE(eventually([&] { return task->isFinished(); }));
}

// The second-generation realtime client, connected to a server that never answers, so that its
// heartbeats time out and it reconnects again and again. One of its heartbeat listeners is held
// up until the release has returned (or a second has passed) while more statuses wait for it;
// the facade is released meanwhile.
TEST(FacadeRelease, ItsRealtimeClientCallsNoListenerOnceReleased) {
  MisbehavingServer server({.behaviour = MisbehavingServer::Behaviour::silent});
  const auto socketURL = server.url();
  const std::string project = "http://" + std::string(socketURL.encoded_host_and_port());
  constexpr int rounds = 10;
  for (int round = 0; round < rounds; ++round) {
    const int idleThreads = threadCount();
    auto record = std::make_shared<CallerRecord>();
    auto storage = std::make_shared<CallerStorage>(record);
    HTTPSession session;
    session.data = [](const URLRequest& request) {
      return FakeAuthServer::answer(request, 200, "[]");
    };
    auto options = optionsFor(session, storage, record);
    options.realtime.heartbeatInterval = realtime::Seconds(0.02);
    options.realtime.reconnectDelay = realtime::Seconds(0.01);
    auto beats = std::make_shared<std::atomic<int>>(0);
    auto held = std::make_shared<std::atomic<bool>>(false);
    std::vector<std::shared_ptr<ObservationToken>> listening;
    auto client = std::make_unique<VoduzaziClient>(project, kKey, options);
    {
      const auto realtime = client->realtimeV2();
      listening.push_back(realtime->onStatusChange(
          [record](realtime::RealtimeClientStatus) { record->called("status listener"); }));
      listening.push_back(realtime->onHeartbeat([record, held](realtime::HeartbeatStatus) {
        record->called("held heartbeat listener");
        if (!record->releasing || *held) return;
        *held = true;
        eventually([&] { return record->isReleased(); }, 500ms);
      }));
      listening.push_back(realtime->onHeartbeat([record, beats](realtime::HeartbeatStatus) {
        ++*beats;
        record->called("heartbeat listener");
      }));
      realtime->connect();
    }
    record->releasing = true;
    ASSERT_TRUE(eventually([&] { return held->load(); }));
    const int heldAt = beats->load();
    ASSERT_TRUE(eventually([&] { return beats->load() >= heldAt + 2; }));  // waiting for it
    client.reset();
    record->release();
    listening.clear();
    // Before the fix its tasks went on past the release: let them end before counting.
    EXPECT_TRUE(eventually([&] { return threadCount() <= idleThreads; })) << "round " << round;
    const auto late = record->lateCalls();
    reportedLate(late, round);
  }
}

}  // namespace
}  // namespace voduzazi::testing
