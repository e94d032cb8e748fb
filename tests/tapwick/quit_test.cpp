// Quitting while a refresh of Alice's session is under way: the quit waits for the answer (a
// backend answering 1 s late) and stores it, so the next launch is still signed in and sends no
// spent token; a frozen backend holds the quit up a few seconds at most. What the transport
// hears after the quit reaches nobody, as after a process's end.
#include <gtest/gtest.h>

#include "tests/tapwick/app_fixture.hpp"
#include "tests/tapwick/watched_transport.hpp"

namespace tapwick::testing {
namespace {

using namespace std::chrono_literals;

class Quit : public AppFixture {
 protected:
  Quit() { signUpAndIn(alice, "alice"); }
  ~Quit() override { transport->releaseHeldAnswers(); }

  // The quit, then the end of the process: nothing the old facade hears afterwards is stored.
  void quit() {
    stop(alice);
    transport->end();
  }

  // Launches again, as a new process with a transport of its own; expects Alice signed in and
  // no refresh refused.
  void expectSignedInAfterARelaunch() {
    auto relaunched = std::make_shared<WatchedTransport>();
    alice.clientOptions = relaunched->options();
    launch(alice);
    ASSERT_TRUE(alice.service->session()) << "the session was lost";
    main->advance(2s);
    settle(alice);
    EXPECT_TRUE(alice.service->session());
    for (const int status : relaunched->refreshStatuses()) {
      EXPECT_EQ(status, 200) << "a spent refresh token was sent";
    }
  }

  std::shared_ptr<WatchedTransport> transport = std::make_shared<WatchedTransport>();
  AppInstall alice = install(transport->options());
};

TEST_F(Quit, DuringAPollsRefreshStoresTheLateAnswer) {
  transport->holdRefreshAnswers(1s);
  expireStoredSession(alice);
  main->advance(2s);  // the poll, whose request refreshes the session first
  ASSERT_TRUE(transport->waitForRefreshes(1));
  quit();
  expectSignedInAfterARelaunch();
}

TEST_F(Quit, RightAfterALaunchWhoseRefreshIsLateStoresTheAnswer) {
  expireStoredSession(alice);
  stop(alice);
  transport->holdRefreshAnswers(1s);
  startWithoutWaiting(alice);  // its start-up refreshes the stored session
  ASSERT_TRUE(transport->waitForRefreshes(1));
  quit();
  expectSignedInAfterARelaunch();
}

TEST_F(Quit, WithAFrozenBackendEndsWithinSeconds) {
  transport->freezeRefreshes();
  expireStoredSession(alice);
  main->advance(2s);
  ASSERT_TRUE(transport->waitForRefreshes(1));
  const auto quitting = std::chrono::steady_clock::now();
  stop(alice);
  // The facade's release calls a refresh off after 5 s; the quit adds little to it.
  EXPECT_LT(std::chrono::steady_clock::now() - quitting, 6500ms);
}

}  // namespace
}  // namespace tapwick::testing
