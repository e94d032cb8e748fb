// The app's libnotify presenter against a stand-in notification service on a private bus: a
// service that answers only after the Notify call has timed out shows the message, so it is
// presented once; a service that refuses it gets it again at the next poll.
#include <gtest/gtest.h>

#include "tapwick/libnotify_presenter.hpp"
#include "tests/tapwick/app_fixture.hpp"
#include "tests/tapwick/notification_service_stand_in.hpp"

namespace tapwick::testing {
namespace {

using namespace std::chrono_literals;
using Answer = NotificationServiceStandIn::Answer;

// A Notify call times out after 25 s (the bus library's default); the rest is quick.
constexpr auto kPastTheCallsTimeOut = std::chrono::seconds(60);

class StandInBus : public ::testing::Environment {
 public:
  void TearDown() override { NotificationServiceStandIn::stopShared(); }
};
const auto* const standInBus = ::testing::AddGlobalTestEnvironment(new StandInBus);

class DesktopNotifications : public AppFixture {
 protected:
  DesktopNotifications() {
    service.setAnswer(Answer::atOnce);
    signUpAndIn(alice, "alice");
    signUpAndIn(bob, "bob");
    pair(alice, bob);
    pollAlice();
  }

  // A turn of Alice's poll loop and the trigger of what it scheduled; returns once every
  // notification it scheduled has been handed over or refused.
  void pollAlice(std::chrono::milliseconds limit = 20s) {
    main->advance(2s);
    settle(alice);
    main->advance(1s);
    ASSERT_TRUE(main->runUntil([&] { return alice.service->pendingNotifications() == 0; }, limit));
  }

  std::size_t presented(const std::string& text) const {
    std::size_t count = 0;
    for (const auto& body : service.bodies()) count += body.starts_with(text + "\n") ? 1 : 0;
    return count;
  }

  NotificationServiceStandIn& service = NotificationServiceStandIn::shared();
  AppInstall alice = install({}, std::make_shared<LibnotifyPresenter>("Tapwick"));
  AppInstall bob = install();
};

TEST_F(DesktopNotifications, AnAnswerAfterTheCallsTimeOutPresentsTheMessageOnce) {
  service.setAnswer(Answer::holdFirst);
  await([&](Completion done) { bob.service->sendMessage("late answer", done); });
  pollAlice(kPastTheCallsTimeOut);
  ASSERT_EQ(presented("late answer"), 1u);
  service.answerHeld();
  pollAlice();
  pollAlice();
  EXPECT_EQ(presented("late answer"), 1u);
}

// A service that left without replying showed nothing either: only the call's own time-out is
// taken for a message handed over.
TEST_F(DesktopNotifications, ARefusedMessageIsPresentedAgainByTheNextPoll) {
  for (const auto& [answer, name] : {std::pair{Answer::refuse, "refused"},
                                     std::pair{Answer::leaveUnanswered, "left unanswered"}}) {
    const std::string text = name;
    SCOPED_TRACE(text);
    service.setAnswer(answer);
    await([&](Completion done) { bob.service->sendMessage(text, done); });
    pollAlice();
    ASSERT_EQ(presented(text), 1u);
    service.setAnswer(Answer::atOnce);
    pollAlice();
    pollAlice();
    EXPECT_EQ(presented(text), 2u);
  }
}

}  // namespace
}  // namespace tapwick::testing
