// The backend ends Alice's session (a log-out on another device, a refresh token spent by a
// refresh whose answer was lost): at the next refresh the app shows the sign-in form with the
// reason, stops polling, and after she signs in again what was sent meanwhile is notified once.
#include <gtest/gtest.h>

#include "tests/tapwick/app_fixture.hpp"
#include "tests/tapwick/watched_transport.hpp"

namespace tapwick::testing {
namespace {

using namespace std::chrono_literals;
using Screen = RootViewModel::Screen;

class SessionEnd : public AppFixture {
 protected:
  SessionEnd() {
    aliceEmail = signUpAndIn(alice, "alice");
    signUpAndIn(bob, "bob");
    pair(alice, bob);
  }
  ~SessionEnd() override { transport->releaseHeldAnswers(); }

  // Alice's popover root, past its loading screen.
  std::shared_ptr<RootViewModel> showRoot() {
    auto root = RootViewModel::create(alice.service, {});
    root->handleAppear();
    main->advance(300ms);
    return root;
  }

  // One turn of Alice's poll loop.
  void pollAlice() {
    main->advance(2s);
    settle(alice);
  }

  void expectSignedOutWithTheReason(const RootViewModel& root) {
    EXPECT_FALSE(alice.service->session());
    EXPECT_FALSE(alice.service->isPolling());
    EXPECT_EQ(root.screen(), Screen::signIn);
    EXPECT_EQ(root.popoverSize(), (Size{400, 260}));
    EXPECT_EQ(root.notice(), std::string(RootViewModel::sessionEndedNotice));
  }

  // Bob writes while Alice is signed out; she signs in through the form and gets it once.
  void signInAgainAndReceiveWhatWasSentMeanwhile(RootViewModel& root) {
    await([&](Completion done) { bob.service->sendMessage("meanwhile", done); });
    root.email = aliceEmail;
    root.password = kPassword;
    root.submitSignIn();
    ASSERT_TRUE(main->runUntil([&] { return alice.service->session().has_value(); }));
    settle(alice);
    EXPECT_FALSE(root.notice());
    for (int i = 0; i < 3; ++i) pollAlice();
    main->advance(1s);
    ASSERT_TRUE(main->runUntil([&] { return alice.presenter->countShown("meanwhile") >= 1; }));
    EXPECT_EQ(root.screen(), Screen::messaging);
    pollAlice();
    main->advance(1s);
    EXPECT_EQ(alice.presenter->countShown("meanwhile"), 1u);
  }

  std::shared_ptr<WatchedTransport> transport = std::make_shared<WatchedTransport>();
  AppInstall alice = install(transport->options());
  AppInstall bob = install();
  std::string aliceEmail;
};

// How the backend comes to refuse Alice's refresh token.
enum class Ending { signedOutOnAnotherDevice, tokenSpentElsewhere };

class SessionEndedByTheBackend : public SessionEnd, public ::testing::WithParamInterface<Ending> {
};

TEST_P(SessionEndedByTheBackend, ShowsTheSignInFormWithinOneRefresh) {
  auto root = showRoot();
  ASSERT_EQ(root->screen(), Screen::messaging);
  if (GetParam() == Ending::signedOutOnAnotherDevice) {
    auto phone = newClient();
    phone->auth().signIn(aliceEmail, kPassword);
    phone->auth().signOut(voduzazi::auth::SignOutScope::global);
  } else {
    spendStoredRefreshToken(alice);
  }
  expireStoredSession(alice);
  pollAlice();
  EXPECT_EQ(transport->refreshStatuses(), std::vector<int>{400});
  expectSignedOutWithTheReason(*root);
  // Nothing polls on with the anonymous key.
  const std::size_t polls = transport->requestsTo("/rest/v1/messages");
  pollAlice();
  EXPECT_EQ(transport->requestsTo("/rest/v1/messages"), polls);
  signInAgainAndReceiveWhatWasSentMeanwhile(*root);
}

INSTANTIATE_TEST_SUITE_P(EitherWay, SessionEndedByTheBackend,
                         ::testing::Values(Ending::signedOutOnAnotherDevice,
                                           Ending::tokenSpentElsewhere));

TEST_F(SessionEnd, AStartWithStoredFriendsAndADeadSessionShowsTheForm) {
  expireStoredSession(alice);
  stop(alice);
  {
    auto phone = newClient();
    phone->auth().signIn(aliceEmail, kPassword);
    phone->auth().signOut(voduzazi::auth::SignOutScope::global);
  }
  launchWithRoot(alice);
  main->advance(300ms);
  expectSignedOutWithTheReason(*alice.root);
  EXPECT_TRUE(alice.service->connectedFriends().empty());
  signInAgainAndReceiveWhatWasSentMeanwhile(*alice.root);
}

TEST_F(SessionEnd, ARefreshThatCannotReachTheBackendEndsNoSession) {
  auto root = showRoot();
  transport->failRefreshes(true);
  expireStoredSession(alice);
  pollAlice();
  pollAlice();
  EXPECT_TRUE(alice.service->session());
  EXPECT_TRUE(alice.service->isPolling());
  EXPECT_EQ(root->screen(), Screen::messaging);
  EXPECT_FALSE(root->notice());

  // Back: the refresh goes through, and the new token restarts nothing.
  const std::size_t friendFetches = transport->requestsTo("/rest/v1/friends");
  transport->failRefreshes(false);
  await([&](Completion done) { bob.service->sendMessage("after the outage", done); });
  pollAlice();
  main->advance(1s);
  ASSERT_TRUE(main->runUntil([&] { return alice.presenter->countShown("after the outage") == 1; }));
  EXPECT_EQ(transport->refreshStatuses(), std::vector<int>{200});
  const std::size_t polls = transport->requestsTo("/rest/v1/messages");
  pollAlice();
  EXPECT_EQ(transport->requestsTo("/rest/v1/messages"), polls + 1)
      << "one poll loop, not a second one for the new token";
  EXPECT_EQ(transport->requestsTo("/rest/v1/friends"), friendFetches);
  EXPECT_EQ(root->screen(), Screen::messaging);
}

TEST_F(SessionEnd, TheUsersOwnSignOutGivesNoReason) {
  auto root = showRoot();
  await([&](Completion done) { alice.service->signOut(done); });
  main->drain();
  EXPECT_EQ(root->screen(), Screen::signIn);
  EXPECT_FALSE(root->notice());
}

}  // namespace
}  // namespace tapwick::testing
