// Older-client channels whose client was released (orphans). An orphan's pushes fail at once
// ("no client"); their hooks and the subscribe callback hear it each with a reply of their own,
// and a retry from inside that announcement is recorded, not announced again. A channel's time-out
// is read on the strand.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <barrier>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/realtime/fake_socket.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"

namespace voduzazi::realtime {
namespace {

using ::testing::ElementsAre;
using testing::nameOf;
using testing::reply;
using testing::SocketHarness;

// The "reason" of a reply's response: "no client" for an orphan's failure.
std::string reasonOf(const RealtimeMessage& reply) {
  const auto found = reply.payload().find("reason");
  if (found == reply.payload().end() || found->second.stringValue() == nullptr) return "";
  return *found->second.stringValue();
}

class OrphanChannelTest : public ::testing::Test {
 protected:
  // "room", subscribed and joined, whose client then goes. The subscribe callback's reports go
  // to `reports`; `onReport` runs after each.
  std::shared_ptr<RealtimeChannel> orphanedRoom() {
    const auto client = harness.openClient();
    auto room = client->channel("room");
    room->subscribe(std::nullopt, [this](RealtimeSubscribeStates state, const auto&) {
      reports.push_back(nameOf(state));
      if (onReport) onReport(state);
    });
    const auto ref = room->joinRef().value_or("");
    harness.transport().receive(reply(ref, ref, room->topic(), "ok"));
    return room;
  }

  SocketHarness harness;
  std::vector<std::string> reports;
  std::function<void(RealtimeSubscribeStates)> onReport;
};

// A hook that resets its push, ahead of another hook: the later one still reads the failure.
TEST_F(OrphanChannelTest, AHookThatResetsItsPushHarmsNoLaterHook) {
  std::vector<std::string> heard;
  const auto room = orphanedRoom();
  {
    SCOPED_TRACE("a push of the caller's, resent");
    const auto push = room->push("ping", {});
    Push* const raw = push.get();
    push->receive(PushStatus::error,
                  [&heard, raw](const RealtimeMessage&) {
                    heard.push_back("reset");
                    raw->reset();
                  })
        ->receive(PushStatus::error,
                  [&heard](const RealtimeMessage& reply) { heard.push_back(reasonOf(reply)); });
    push->resend(1.0);
    EXPECT_THAT(heard, ElementsAre("reset", "reset", "no client"));
  }
  SCOPED_TRACE("the join push, rejoined, reset by the subscribe callback");
  heard.clear();
  Push* const join = room->joinPush().get();
  onReport = [join](RealtimeSubscribeStates state) {
    if (state == RealtimeSubscribeStates::channelError) join->reset();
  };
  join->receive(PushStatus::error,
                [&heard](const RealtimeMessage& reply) { heard.push_back(reasonOf(reply)); });
  room->rejoin();
  EXPECT_THAT(reports, ElementsAre("subscribed", "channelError"));
  EXPECT_THAT(heard, ElementsAre("no client"));
}

// Retrying on error, as callers do with a live client (where the error comes later): a rejoin,
// resend or new push from inside the announcement of an orphan's failure fails alike, and that
// failure is recorded, not announced again. The orphan's own rules stand meanwhile.
TEST_F(OrphanChannelTest, ARetryFromInsideTheAnnouncementOfAFailureIsNotAnnouncedAgain) {
  const auto room = orphanedRoom();
  RealtimeChannel* const raw = room.get();
  onReport = [raw](RealtimeSubscribeStates state) {
    if (state == RealtimeSubscribeStates::channelError) raw->rejoin();
  };
  room->rejoin();
  EXPECT_THAT(reports, ElementsAre("subscribed", "channelError"));
  EXPECT_TRUE(room->joinPush()->hasReceived(PushStatus::error));
  EXPECT_EQ(room->state(), ChannelState::errored);
  room->rejoin();  // from outside: announced, once
  EXPECT_THAT(reports, ElementsAre("subscribed", "channelError", "channelError"));

  int resends = 0;
  const auto push = room->push("ping", {});
  Push* const rawPush = push.get();
  push->receive(PushStatus::error, [&resends, rawPush](const RealtimeMessage&) {
    ++resends;
    rawPush->resend(1.0);
  });
  EXPECT_EQ(resends, 1);
  EXPECT_TRUE(push->hasReceived(PushStatus::error));
  push->resend(1.0);
  EXPECT_EQ(resends, 2);

  int pushes = 0;
  std::function<void()> pushAgain = [&] {
    ++pushes;
    room->push("ping", {})->receive(PushStatus::error,
                                    [&pushAgain](const RealtimeMessage&) { pushAgain(); });
  };
  pushAgain();
  EXPECT_EQ(pushes, 2);

  EXPECT_EQ(room->send(RealtimeListenTypes::broadcast, "x", {}), ChannelResponse::error);
  // A leave from inside the announcement is a push of its own: its failure closes the channel.
  onReport = [raw](RealtimeSubscribeStates state) {
    if (state == RealtimeSubscribeStates::channelError) raw->unsubscribe();
  };
  room->rejoin();
  EXPECT_EQ(room->state(), ChannelState::closed);
  EXPECT_THAT(reports, ElementsAre("subscribed", "channelError", "channelError", "channelError",
                                   "closed"));
}

// send() reads the channel's time-out on the strand, where subscribe(timeout) writes it: sends
// from one thread beside subscribes from another, round after round.
TEST(RealtimeChannelFromTwoThreads, SendBesideASubscribeWithATimeOut) {
  SocketHarness harness;
  const auto client = harness.openClient();
  constexpr int rounds = 1000;
  std::vector<std::shared_ptr<RealtimeChannel>> channels;
  for (int round = 0; round < rounds; ++round) {
    channels.push_back(client->channel("room" + std::to_string(round)));
  }
  std::barrier start(2);
  std::thread subscriber([&] {
    for (const auto& channel : channels) {
      start.arrive_and_wait();
      channel->subscribe(5.0);
    }
  });
  for (int round = 0; round < rounds; ++round) {
    const auto& channel = channels[round];
    start.arrive_and_wait();
    // A start that moves round by round, so that the two meet at many points.
    for (int turn = 0; turn < round % 64; ++turn) std::this_thread::yield();
    // Not joined yet: over HTTP.
    EXPECT_EQ(channel->send(RealtimeListenTypes::broadcast, "x", {}), ChannelResponse::ok);
  }
  subscriber.join();
}

}  // namespace
}  // namespace voduzazi::realtime
