// Two auth clients sharing one secret store item take turns to refresh: a waiting refresh takes up
// what the other stored, and a sign-in or sign-out elsewhere is never overwritten.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/auth/two_clients_on_one_store.hpp"

namespace voduzazi::auth::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Holds refresh grants at `gate` before `answer` gives them their answer; answers sign-outs at
// once.
FakeAuthServer::Responder heldRefreshes(Gate& gate, FakeAuthServer::Responder answer) {
  return [&gate, answer](const URLRequest& request) {
    if (queryOf(request)["grant_type"] != "refresh_token") {
      return FakeAuthServer::answer(request, 204, "");
    }
    gate.pass();
    return answer(request);
  };
}

class RefreshTurnTest : public TwoClientsOnOneStoreTest {
 protected:
  // Both programs start with `session` in the store, which each first sees when it refreshes;
  // the second's events are recorded from the emitter itself, since a listener of the client's
  // would look at the store (and refresh the due session) at once.
  void startWith(const Session& session) {
    storeSession(*first, session);
    secondToken =
        Dependencies::get(second->clientID()).eventEmitter.attach(secondEvents.listener());
  }

  std::size_t refreshRequests() const {
    std::size_t count = 0;
    for (const auto& request : server->requests()) {
      if (queryOf(request)["grant_type"] == "refresh_token") ++count;
    }
    return count;
  }

  EventRecorder secondEvents;
  std::shared_ptr<ObservationToken> secondToken;
};

TEST_F(RefreshTurnTest, AWaitingRefreshTakesUpTheSessionTheOtherStored) {
  ChainingRefreshServer chain;
  Gate gate;
  server->respond(heldRefreshes(gate, chain.responder()));
  startWith(makeSession("access-1", "refresh-1", secondsFromNow(20)));

  refreshInBothWhileTheFirstIsHeld(gate);
  gate.open();

  EXPECT_EQ(firstRefresh->value().accessToken, "access-2");
  EXPECT_EQ(secondRefresh->value().accessToken, "access-2");
  EXPECT_EQ(refreshRequests(), 1u);
  EXPECT_THAT(chain.resent(), IsEmpty());
  ASSERT_THAT(secondEvents.events(), ElementsAre(AuthChangeEvent::tokenRefreshed));
  EXPECT_EQ(secondEvents.entries()[0].session->accessToken, "access-2");
  // Each client goes on from the stored session, one refresh at a time.
  EXPECT_EQ(managerOf(*second).session().accessToken, "access-3");
  EXPECT_EQ(managerOf(*first).session().accessToken, "access-4");
  EXPECT_THAT(chain.resent(), IsEmpty());
}

TEST_F(RefreshTurnTest, AWaitingRefreshTakesUpASessionWhoseRefreshTokenDidNotChange) {
  std::atomic<int> refreshes = 0;
  Gate gate;
  server->respond(heldRefreshes(gate, nonRotatingRefresh(refreshes)));
  startWith(makeSession("access-0", "kept-refresh", secondsFromNow(20)));

  refreshInBothWhileTheFirstIsHeld(gate);
  gate.open();

  EXPECT_EQ(firstRefresh->value().accessToken, "access-1");
  EXPECT_EQ(secondRefresh->value().accessToken, "access-1");
  EXPECT_EQ(refreshRequests(), 1u);
  // A refresh of the token given, not of the stored session, is sent as asked.
  EXPECT_EQ(managerOf(*second).refreshSession("kept-refresh").accessToken, "access-2");
}

TEST_F(RefreshTurnTest, ASignOutElsewhereDuringARefreshIsKept) {
  ChainingRefreshServer chain;
  Gate gate;
  server->respond(heldRefreshes(gate, chain.responder()));
  startWith(makeSession("access-1", "refresh-1", secondsFromNow(20)));

  refreshInBothWhileTheFirstIsHeld(gate);
  auto third = makeClient([&] {
    auto options = this->options();
    options.localStorage = store;
    return options;
  }());
  third->signOut();
  gate.open();

  // The answer under way is the caller's, but the store is not given the session back.
  EXPECT_EQ(firstRefresh->value().accessToken, "access-2");
  EXPECT_THROW(secondRefresh->value(), AuthError);
  EXPECT_EQ(first->currentSession(), std::nullopt);
  EXPECT_EQ(refreshRequests(), 1u);
  EXPECT_THAT(secondEvents.events(), ElementsAre(AuthChangeEvent::signedOut));
}

TEST_F(RefreshTurnTest, AnotherUsersSignInElsewhereIsTakenUpAndAnnouncedAsASignIn) {
  ChainingRefreshServer chain;
  Gate gate;
  server->respond(heldRefreshes(gate, chain.responder()));
  startWith(makeSession("access-1", "refresh-1", secondsFromNow(20)));

  refreshInBothWhileTheFirstIsHeld(gate);
  Session someoneElse = makeSession("other-access", "other-refresh", secondsFromNow(3600));
  someoneElse.user.id = boost::uuids::uuid{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}};
  storeSession(*first, someoneElse);
  gate.open();

  EXPECT_EQ(firstRefresh->value().accessToken, "access-2");
  EXPECT_EQ(secondRefresh->value(), someoneElse);
  EXPECT_EQ(first->currentSession(), someoneElse) << "the answer under way does not replace it";
  ASSERT_THAT(secondEvents.events(), ElementsAre(AuthChangeEvent::signedIn));
  EXPECT_EQ(secondEvents.entries()[0].session, someoneElse);
}

TEST_F(RefreshTurnTest, ATurnThatCannotBeHadFailsTheRefreshAndSendsNothing) {
  server->respondWith(200, sessionBody("fresh", "next", secondsFromNow(3600)));
  const Session stored = makeSession("old", "old-refresh", secondsFromNow(20));
  storeSession(*second, stored);
  // Something that is no lock file holds the lock file's name.
  const std::string item = SecretStore::fileName({"voduzazi.vuvere.swift", "voduzazi.auth.token"});
  std::filesystem::create_directory(folder.path() / "secrets" / ("lock" + item.substr(4)));

  EXPECT_THROW(managerOf(*second).session(), KeychainError);
  EXPECT_EQ(server->requestCount(), 0u);
  EXPECT_EQ(second->currentSession(), stored);
  bool logged = false;
  for (const auto& message : logger->messages()) {
    logged = logged || message.message.starts_with("Failed to take a refresh turn: ");
  }
  EXPECT_TRUE(logged);
}

}  // namespace
}  // namespace voduzazi::auth::testing
