// The service's own behaviour against the stand-in backend: sign-in and sign-out, sending
// without a session or a friend, one polling loop, and a backend that is away.
#include <gtest/gtest.h>

#include "tapwick/backend_configuration.hpp"
#include "tapwick/connect_view_model.hpp"
#include "tapwick/main_view_model.hpp"
#include "tapwick/tapwick_error.hpp"
#include "tests/tapwick/app_fixture.hpp"

namespace tapwick::testing {
namespace {

using namespace std::chrono_literals;

class ServiceTest : public AppFixture {
 protected:
  // The error a send ends with, or nothing.
  std::exception_ptr sendFails(AppInstall& app, const std::string& text) {
    std::exception_ptr failure;
    bool finished = false;
    app.service->sendMessage(text, [&](std::exception_ptr error) {
      failure = error;
      finished = true;
    });
    EXPECT_TRUE(main->runUntil([&] { return finished; }));
    return failure;
  }

  static int codeOf(const std::exception_ptr& failure) {
    try {
      std::rethrow_exception(failure);
    } catch (const TapwickError& error) {
      return error.code();
    } catch (...) {
      return -1;
    }
  }

  AppInstall alice = install();
};

TEST_F(ServiceTest, SendingWithoutSessionOrFriendIsReportedNotSent) {
  EXPECT_EQ(codeOf(sendFails(alice, "hello")), TapwickError::notLoggedInToSend);
  signUpAndIn(alice, "alice");
  EXPECT_EQ(codeOf(sendFails(alice, "hello")), TapwickError::noFriendToSendTo);
}

TEST_F(ServiceTest, WrongPasswordIsReportedAndChangesNothing) {
  const std::string email = newEmail("alice");
  await([&](Completion done) { alice.service->signUp(email, "correct horse", "alice", done); });
  EXPECT_FALSE(alice.service->session()) << "sign-up leaves the user signed out";
  EXPECT_ANY_THROW(
      await([&](Completion done) { alice.service->signIn(email, "wrong horse", done); }));
  EXPECT_FALSE(alice.service->session());
  EXPECT_FALSE(alice.service->isPolling());
}

TEST_F(ServiceTest, PollsInOneLoopHoweverOftenPollingIsStarted) {
  signUpAndIn(alice, "alice");
  ASSERT_TRUE(alice.service->isPolling());
  auto messaging = MainViewModel::create(alice.service, [](bool) {});
  for (int i = 0; i < 3; ++i) {
    alice.service->startPolling();
    messaging->start();
  }
  settle(alice);
  ASSERT_TRUE(main->runUntil([&] { return main->pendingTimers() == 1; }));
  main->advance(2s);
  settle(alice);
  EXPECT_EQ(main->pendingTimers(), 1u);
}

TEST_F(ServiceTest, SignOutStopsPollingAndForgetsTheFriends) {
  AppInstall bob = install();
  signUpAndIn(alice, "alice");
  signUpAndIn(bob, "bob");
  pair(alice, bob);
  ASSERT_EQ(alice.service->connectedFriends().size(), 1u);
  await([&](Completion done) { alice.service->signOut(done); });
  EXPECT_FALSE(alice.service->session());
  EXPECT_FALSE(alice.service->isPolling());
  EXPECT_EQ(UserDefaults(alice.defaultsPath).stringArray("connectedFriends"),
            std::vector<std::string>{});
  main->advance(2s);
  EXPECT_EQ(main->pendingTimers(), 0u) << "bob's loop was never started in this test";
}

TEST_F(ServiceTest, ABackendThatIsAwayLosesNoSessionFriendOrMessage) {
  AppInstall bob = install();
  signUpAndIn(alice, "alice");
  signUpAndIn(bob, "bob");
  pair(alice, bob);
  const auto friends = alice.service->connectedFriends();

  // Relaunched while the backend cannot be reached: the stored session and friends stay, and the
  // poll loop keeps going.
  launch(alice, "http://127.0.0.1:9");
  EXPECT_TRUE(alice.service->session());
  EXPECT_EQ(alice.service->connectedFriends(), friends);
  alice.service->fetchFriends();
  settle(alice);
  EXPECT_EQ(alice.service->connectedFriends(), friends);
  main->advance(2s);
  settle(alice);
  EXPECT_TRUE(alice.service->isPolling());
  await([&](Completion done) { bob.service->sendMessage("kept", done); });

  // Back with the backend: the message sent meanwhile arrives.
  launch(alice);
  main->advance(1s);
  ASSERT_TRUE(main->runUntil([&] { return alice.presenter->shown().size() == 1; }));
  EXPECT_EQ(alice.presenter->shown().front().body.substr(0, 5), "kept\n");
}

}  // namespace
}  // namespace tapwick::testing

namespace tapwick::testing {
namespace {

TEST(BackendConfiguration, DefaultsToTheStandInBackend) {
  EXPECT_EQ(kProjectURL, "http://127.0.0.1:8484");
  local_backend::Server server;
  EXPECT_EQ(kAnonKey, server.anonKey());
}

}  // namespace
}  // namespace tapwick::testing
