// Two auth clients on one store item, as two programs of one user are: what one writes there
// (a new token, another user's sign-in, a sign-out) the other announces to its own listeners once,
// when it next looks (a read of the session, an auto-refresh tick), without a request of its own.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <any>
#include <atomic>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <functional>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

#include "tests/auth/two_clients_on_one_store.hpp"
#include "voduzazi/auth/auth_error.hpp"
#include "voduzazi/auth/auth_state_change_event_emitter.hpp"
#include "voduzazi/helpers/url_error.hpp"
#include "voduzazi/platform/notification_center.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;

class StoreAnnouncementsTest : public TwoClientsOnOneStoreTest {
 protected:
  StoreAnnouncementsTest() {
    // The first answers refresh grants with the next token of the same user, sign-outs at once.
    server->respond([this](const URLRequest& request) {
      if (queryOf(request)["grant_type"] != "refresh_token") {
        return FakeAuthServer::answer(request, 204, "");
      }
      const std::string token = "access-" + std::to_string(++refreshes);
      return FakeAuthServer::answer(request, 200,
                                    sessionBody(token, "refresh-" + token, secondsFromNow(3600)));
    });
    storeSession(*first, makeSession("access-0", "refresh-0", secondsFromNow(3600)));
    listening = second->onAuthStateChange(heard.listener());
  }

  std::vector<std::string> accessTokensHeard() const {
    std::vector<std::string> tokens;
    for (const auto& entry : heard.entries()) {
      tokens.push_back(entry.session ? entry.session->accessToken : "none");
    }
    return tokens;
  }

  int refreshes = 0;
  EventRecorder heard;
  std::shared_ptr<ObservationToken> listening;
};

TEST_F(StoreAnnouncementsTest, AReadAnnouncesOnceWhatAnotherProgramStored) {
  first->refreshSession();
  EXPECT_EQ(second->session().accessToken, "access-1");
  EXPECT_EQ(second->session().accessToken, "access-1");  // announced already
  first->refreshSession();
  first->refreshSession();
  EXPECT_EQ(second->session().accessToken, "access-3");  // the one stored when it looks

  Session someoneElse = makeSession("other-access", "other-refresh", secondsFromNow(3600));
  someoneElse.user.id = boost::uuids::uuid{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
  storeSessionHere(*first, someoneElse);
  EXPECT_EQ(second->session(), someoneElse);

  first->signOut(SignOutScope::local);
  EXPECT_THROW(second->session(), AuthError);
  EXPECT_THROW(second->session(), AuthError);  // announced already
  EXPECT_THAT(heard.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::tokenRefreshed,
                          AuthChangeEvent::tokenRefreshed, AuthChangeEvent::signedIn,
                          AuthChangeEvent::signedOut));
  EXPECT_THAT(accessTokensHeard(),
              ElementsAre("access-0", "access-1", "access-3", "other-access", "none"));
  EXPECT_EQ(refreshes, 3) << "the second program never refreshed";
}

TEST_F(StoreAnnouncementsTest, AnAutoRefreshTickAnnouncesWhatAnotherProgramStored) {
  // A tick of a loop of the second's: the session is far from due, so it refreshes nothing.
  auto loop = std::make_shared<LiveSessionManager>(second->clientID());
  loop->autoRefreshTokenTick();  // where this loop starts
  first->refreshSession();
  loop->autoRefreshTokenTick();
  loop->autoRefreshTokenTick();
  first->signOut(SignOutScope::local);
  loop->autoRefreshTokenTick();
  EXPECT_THAT(heard.events(), ElementsAre(AuthChangeEvent::initialSession,
                                          AuthChangeEvent::tokenRefreshed,
                                          AuthChangeEvent::signedOut));
  EXPECT_THAT(accessTokensHeard(), ElementsAre("access-0", "access-1", "none"));
  EXPECT_EQ(refreshes, 1);
}

// A refresh that fails on the way (no answer) still announces the session another program stored
// before it: that program's token is the one its listeners must have.
TEST_F(StoreAnnouncementsTest, ARefreshThatFailsOnTheWayStillAnnouncesWhatAnotherProgramStored) {
  first->refreshSession();
  server->respond([](const URLRequest&) -> FetchResult {
    throw URLError(URLError::Code::networkConnectionLost, "the link went down");
  });
  EXPECT_THROW(second->refreshSession(), URLError);
  EXPECT_THROW(second->refreshSession(), URLError);  // announced already
  EXPECT_THAT(heard.events(),
              ElementsAre(AuthChangeEvent::initialSession, AuthChangeEvent::tokenRefreshed));
  EXPECT_THAT(accessTokensHeard(), ElementsAre("access-0", "access-1"));
}

// Its own writes (a refresh, a sign-in, a sign-out) a program announces as it makes them, and
// never again when it next looks.
TEST_F(StoreAnnouncementsTest, AProgramsOwnWritesAreNotAnnouncedAgain) {
  second->refreshSession();
  EXPECT_EQ(second->session().accessToken, "access-1");
  second->signOut(SignOutScope::local);
  EXPECT_THROW(second->session(), AuthError);
  EXPECT_THAT(heard.events(), ElementsAre(AuthChangeEvent::initialSession,
                                          AuthChangeEvent::tokenRefreshed,
                                          AuthChangeEvent::signedOut));
}

// An announcement that a later write of this program (a sign-out, a sign-in as another user) has
// made stale reaches no listener after that write, however long an observer of the notification
// holds it: the listeners end on what the store holds.
class AnnouncementOvertakenByAWriteTest : public StoreAnnouncementsTest {
 protected:
  // Runs `announcing` on a task; once an observer holds its TOKEN_REFRESHED, before any listener
  // has heard it, runs `write` here, then lets the announcement go on and waits for it.
  void writeWhileHeld(std::function<void()> announcing, const std::function<void()>& write) {
    Gate gate;
    const auto observer = holdFirstNotificationOf(AuthChangeEvent::tokenRefreshed, gate);
    EXPECT_FALSE(actWhileHeld(gate, std::move(announcing), write));
  }
};

TEST_F(AnnouncementOvertakenByAWriteTest, ASignOutDuringAStoreAnnouncementIsHeardLast) {
  first->refreshSession();  // what the second announces when it next looks
  writeWhileHeld([this] { second->session(); }, [this] { second->signOut(SignOutScope::local); });
  EXPECT_THAT(heard.events(), ElementsAre(AuthChangeEvent::initialSession,
                                          AuthChangeEvent::signedOut));
}

TEST_F(AnnouncementOvertakenByAWriteTest, ASignOutDuringTheProgramsOwnRefreshIsHeardLast) {
  writeWhileHeld([this] { second->refreshSession(); },
                 [this] { second->signOut(SignOutScope::local); });
  EXPECT_THAT(heard.events(), ElementsAre(AuthChangeEvent::initialSession,
                                          AuthChangeEvent::signedOut));
  EXPECT_EQ(refreshes, 1);
}

TEST_F(AnnouncementOvertakenByAWriteTest, ASignInAsAnotherUserDuringAnAnnouncementIsHeardLast) {
  first->refreshSession();
  boost::json::object otherUser = boost::json::parse(
      sessionBody("other-access", "other-refresh", secondsFromNow(3600))).as_object();
  otherUser["user"].as_object()["id"] = "0b6f2c1e-4d3a-4f5b-8c7d-9e0f1a2b3c4d";
  server->respond([body = boost::json::serialize(otherUser)](const URLRequest& request) {
    return FakeAuthServer::answer(request, 200, body);
  });
  writeWhileHeld([this] { second->session(); },
                 [this] { second->signIn("grace@example.com", "another password"); });
  EXPECT_THAT(heard.events(), ElementsAre(AuthChangeEvent::initialSession,
                                          AuthChangeEvent::signedIn));
  EXPECT_THAT(accessTokensHeard(), ElementsAre("access-0", "other-access"));
}

// Threads of one program that look while another program writes token after token announce them
// in the store's order, however long an observer of the notification takes (an app that logs each
// change to disk): never a token older than one announced already, none twice, the latest last.
// The store is in memory, so that writes come faster than the observer ends.
using AnnouncementOrderTest = AuthClientTest;

TEST_F(AnnouncementOrderTest, ThreadsLookingTogetherAnnounceInTheStoresOrder) {
  constexpr int written = 400;
  // The number N of "access-N"; the sessions expire in an hour, so no look refreshes.
  const auto numberOf = [](const std::optional<Session>& session) {
    return session ? std::stoi(session->accessToken.substr(std::string("access-").size())) : -1;
  };
  const auto sessionNumbered = [](int n) {
    const std::string token = "access-" + std::to_string(n);
    return makeSession(token, "refresh-" + token, secondsFromNow(3600));
  };
  auto client = makeClient();
  storeSession(*client, sessionNumbered(0));
  EventRecorder heard;
  auto listening = client->onAuthStateChange(heard.listener());  // where the program starts
  std::mutex observedMutex;
  std::vector<int> observed;
  auto observer = NotificationCenter::defaultCenter().addObserver(
      std::string(didChangeAuthStateNotification), nullptr, [&](const Notification& note) {
        const auto* session = std::any_cast<std::optional<Session>>(
            &note.userInfo.find(authChangeSessionInfoKey)->second);
        {
          std::lock_guard lock(observedMutex);
          observed.push_back(numberOf(*session));
        }
        thread_local std::mt19937 random{std::random_device{}()};
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution(0, 500)(random)));
      });

  std::atomic<bool> done{false};
  std::vector<std::jthread> readers;
  for (int i = 0; i < 4; ++i) {
    readers.emplace_back([&] {
      while (!done) client->session();
    });
  }
  for (int n = 1; n <= written; ++n) storeSession(*client, sessionNumbered(n));
  EXPECT_EQ(numberOf(client->session()), written);
  done = true;
  readers.clear();  // joined: every look has been announced or dropped
  observer.reset();

  std::vector<int> heardNumbers;
  for (const auto& entry : heard.entries()) heardNumbers.push_back(numberOf(entry.session));
  ASSERT_FALSE(heardNumbers.empty());
  EXPECT_EQ(heardNumbers.front(), 0) << "the initial session";
  heardNumbers.erase(heardNumbers.begin());
  const auto expectInOrder = [&](const std::vector<int>& numbers, const char* who) {
    SCOPED_TRACE(who);
    ASSERT_FALSE(numbers.empty());
    int outOfOrder = 0;
    for (std::size_t i = 1; i < numbers.size(); ++i) outOfOrder += numbers[i] <= numbers[i - 1];
    EXPECT_EQ(outOfOrder, 0) << "events not after the one before, of " << numbers.size();
    EXPECT_EQ(numbers.back(), written);
  };
  expectInOrder(observed, "observer");
  expectInOrder(heardNumbers, "listener");
}

// Reports a listener's failure by throwing in turn, so that the emit reporting it throws.
class ThrowingFailureLogger : public VoduzaziLogger {
 public:
  using VoduzaziLogger::log;
  void log(const VoduzaziLogMessage& message) override {
    if (message.level == VoduzaziLogLevel::error) throw std::runtime_error("logger failed");
  }
};

// An emit that throws (a listener fails, and so does the logger reporting it) still leaves the
// listeners on the session last found: what another thread found meanwhile goes out after it,
// and then the thread that emitted gets the failure.
TEST_F(AnnouncementOrderTest, AnEmitThatThrowsStillAnnouncesWhatWasFoundMeanwhile) {
  auto options = this->options();
  options.logger = std::make_shared<ThrowingFailureLogger>();
  auto client = makeClient(options);
  const auto store = [&](int n) {
    const std::string token = "access-" + std::to_string(n);
    storeSession(*client, makeSession(token, "refresh-" + token, secondsFromNow(3600)));
  };
  store(0);
  EventRecorder heard;
  auto listening = client->onAuthStateChange(heard.listener());  // called before the failing one
  Gate gate;
  std::atomic<bool> failed{false};
  auto failing = client->onAuthStateChange([&](AuthChangeEvent event, const auto&) {
    if (event != AuthChangeEvent::tokenRefreshed || failed.exchange(true)) return;
    gate.pass();
    throw std::runtime_error("listener failed");
  });

  store(1);
  const std::exception_ptr failure = actWhileHeld(gate, [&] { client->session(); }, [&] {
    store(2);
    client->session();  // left to the thread emitting
  });
  EXPECT_TRUE(failure) << "the emitting thread's call reports the failure";
  std::vector<std::string> tokens;
  for (const auto& entry : heard.entries()) tokens.push_back(entry.session->accessToken);
  EXPECT_THAT(tokens, ElementsAre("access-0", "access-1", "access-2"));
}

}  // namespace
}  // namespace voduzazi::auth::testing
