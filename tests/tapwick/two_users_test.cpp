// Two installations of the app, two users, one stand-in backend: pairing, one message, and the
// notifications it makes on the receiving side, across polls and a relaunch.
#include <gtest/gtest.h>

#include "tapwick/connect_view_model.hpp"
#include "tapwick/display_date.hpp"
#include "tapwick/server_rows.hpp"
#include "tests/tapwick/app_fixture.hpp"

namespace tapwick::testing {
namespace {

using namespace std::chrono_literals;

class TwoUsers : public AppFixture {
 protected:
  void pair() { AppFixture::pair(alice, bob); }

  // The creation time the server gave the newest message Bob sent.
  std::string lastSentCreatedAt() {
    const auto response = bob.service->client()
                              .from("messages")
                              .select("*")
                              .eq("sender_id", *bob.service->userId())
                              .order("created_at", false)
                              .limit(1)
                              .execute();
    const auto rows = readMessageRows(response.data);
    EXPECT_EQ(rows.size(), 1u);
    return rows.empty() ? std::string() : rows.front().createdAt;
  }

  // Polls Alice's service `times` times through its own loop, then lets the 1-second triggers
  // of what it scheduled pass.
  void pollAlice(int times) {
    for (int i = 0; i < times; ++i) {
      main->advance(2s);
      settle(alice);
    }
    main->advance(1s);
  }

  AppInstall alice = install();
  AppInstall bob = install();
};

TEST_F(TwoUsers, OneMessageMakesExactlyOneNotificationAcrossPollsAndARelaunch) {
  signUpAndIn(alice, "alice");
  signUpAndIn(bob, "bob");
  pair();
  ASSERT_EQ(bob.service->connectedFriends().size(), 1u);

  // Alice's app learns of the pairing from its own poll loop, without a relaunch.
  pollAlice(1);
  ASSERT_EQ(alice.service->connectedFriends().size(), 1u);

  await([&](Completion done) { bob.service->sendMessage("hello", done); });
  const std::string sentAt = lastSentCreatedAt();
  pollAlice(1);
  ASSERT_TRUE(main->runUntil([&] { return alice.presenter->shown().size() == 1; }));
  const auto shown = alice.presenter->shown().front();
  EXPECT_EQ(shown.title, "Tapwick");
  EXPECT_EQ(shown.body, "hello\nSent at: " + formatDisplayDate(sentAt));

  pollAlice(3);
  EXPECT_EQ(alice.presenter->shown().size(), 1u);

  // A relaunch shows nothing again, and what arrived while the app was away still comes.
  alice.service.reset();
  await([&](Completion done) { bob.service->sendMessage("while you were away", done); });
  launch(alice);
  pollAlice(2);
  ASSERT_TRUE(main->runUntil([&] { return alice.presenter->shown().size() == 2; }));
  EXPECT_EQ(alice.presenter->shown().back().body.substr(0, 20), "while you were away\n");
  pollAlice(2);
  EXPECT_EQ(alice.presenter->shown().size(), 2u);
}

TEST_F(TwoUsers, MessagesShowLiterallyWhateverTheyHold) {
  signUpAndIn(alice, "alice");
  signUpAndIn(bob, "bob");
  pair();
  pollAlice(1);
  const std::vector<std::string> texts = {std::string(10'000, 'x'), "<b>bold</b> & <i>",
                                          "emoji \xF0\x9F\x98\x80",
                                          "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D"};
  for (const auto& text : texts) {
    await([&](Completion done) { bob.service->sendMessage(text, done); });
  }
  pollAlice(1);
  ASSERT_TRUE(main->runUntil([&] { return alice.presenter->shown().size() == texts.size(); }));
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const auto body = alice.presenter->shown()[i].body;
    EXPECT_EQ(body.substr(0, texts[i].size() + 1), texts[i] + "\n") << i;
  }
}

// Where the receiving app is stopped between fetching a message and its notification.
enum class StopPoint { afterPoll, whilePresenting, afterHandOver, afterMarkerSaved };

class StoppedBeforeTheNotification : public TwoUsers,
                                     public ::testing::WithParamInterface<StopPoint> {};

TEST_P(StoppedBeforeTheNotification, ShowsTheMessageAfterARelaunchAndAtMostOnceMore) {
  signUpAndIn(alice, "alice");
  signUpAndIn(bob, "bob");
  pair();
  pollAlice(1);
  await([&](Completion done) { bob.service->sendMessage("hello", done); });

  main->advance(2s);  // the poll that finds the message and schedules its notification
  settle(alice);
  ASSERT_EQ(alice.service->pendingNotifications(), 1u);
  switch (GetParam()) {
    case StopPoint::afterPoll:
      break;
    case StopPoint::whilePresenting:
      alice.presenter->holdNext();
      main->advance(1s);
      ASSERT_TRUE(alice.presenter->waitUntilHolding());
      break;
    case StopPoint::afterHandOver:
      main->advance(1s);
      ASSERT_TRUE(alice.presenter->waitUntilShown(1));  // main-thread work is not run here
      break;
    case StopPoint::afterMarkerSaved:
      main->advance(1s);
      ASSERT_TRUE(main->runUntil([&] { return alice.service->pendingNotifications() == 0; }));
      break;
  }
  stop(alice);
  // A process that ended while presenting never handed the notification over.
  if (GetParam() == StopPoint::whilePresenting) alice.presenter->release(false);

  launch(alice);
  pollAlice(2);
  ASSERT_TRUE(main->runUntil([&] { return alice.service->pendingNotifications() == 0; }));
  EXPECT_GE(alice.presenter->countShown("hello"), 1u) << "the message was lost";
  // Only a stop after the hand-over and before the marker was saved may show it twice.
  const std::size_t most = GetParam() == StopPoint::afterHandOver ? 2 : 1;
  EXPECT_LE(alice.presenter->countShown("hello"), most);
}

INSTANTIATE_TEST_SUITE_P(EachStep, StoppedBeforeTheNotification,
                         ::testing::Values(StopPoint::afterPoll, StopPoint::whilePresenting,
                                           StopPoint::afterHandOver, StopPoint::afterMarkerSaved));

TEST_F(TwoUsers, ARefusedNotificationIsShownAgainByTheNextPoll) {
  signUpAndIn(alice, "alice");
  signUpAndIn(bob, "bob");
  pair();
  pollAlice(1);
  await([&](Completion done) { bob.service->sendMessage("first", done); });
  await([&](Completion done) { bob.service->sendMessage("second", done); });
  alice.presenter->refuseNext();
  pollAlice(1);
  ASSERT_TRUE(main->runUntil([&] { return alice.service->pendingNotifications() == 0; }));
  pollAlice(1);
  ASSERT_TRUE(main->runUntil([&] { return alice.service->pendingNotifications() == 0; }));
  EXPECT_EQ(alice.presenter->countShown("first"), 1u);
  EXPECT_GE(alice.presenter->countShown("second"), 1u);
  pollAlice(2);
  EXPECT_EQ(alice.presenter->countShown("first"), 1u);
  EXPECT_LE(alice.presenter->countShown("second"), 2u);
}

TEST_F(TwoUsers, OwnInviteCodeIsRefused) {
  signUpAndIn(alice, "alice");
  auto pairing = ConnectViewModel::create(alice.service, [](bool) {});
  pairing->generateInvite();
  ASSERT_TRUE(main->runUntil([&] { return pairing->generatedCode.has_value(); }));
  pairing->inviteCode = *pairing->generatedCode;
  pairing->connectWithCode();
  ASSERT_TRUE(main->runUntil([&] { return pairing->error.has_value(); }));
  EXPECT_EQ(*pairing->error, "This is your own invite code");
  EXPECT_TRUE(alice.service->connectedFriends().empty());
}

}  // namespace
}  // namespace tapwick::testing
