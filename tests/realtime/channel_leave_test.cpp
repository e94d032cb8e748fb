// Leaving an older-client channel over a fake transport and the test clock: an unsubscribe ends
// the join for good, and a close is reported once however it comes (the server's close, the
// leave's answer or time-out, a removal, or with the client gone).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "tests/realtime/fake_socket.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"

namespace voduzazi::realtime {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::StartsWith;
using voduzazi::testing::eventually;
using testing::frame;
using testing::nameOf;
using testing::reply;
using testing::SocketHarness;
using testing::textAt;
using Closes = std::vector<std::pair<int, std::optional<std::string>>>;

class ChannelLeaveTest : public ::testing::Test {
 protected:
  // Subscribes, recording each report under the channel's name.
  void subscribe(const std::shared_ptr<RealtimeChannel>& channel, const std::string& name) {
    channel->subscribe(std::nullopt, [this, name](RealtimeSubscribeStates state, const auto&) {
      reports[name].push_back(nameOf(state));
    });
  }
  // The frames of `transport` whose event is `event`, as (join reference, reference).
  static std::vector<std::pair<std::string, std::string>> sent(const testing::FakeTransport& t,
                                                               const std::string& event) {
    std::vector<std::pair<std::string, std::string>> found;
    for (const auto& sentFrame : t.frames()) {
      if (textAt(sentFrame, 3) == event)
        found.emplace_back(textAt(sentFrame, 0), textAt(sentFrame, 1));
    }
    return found;
  }
  // Answers the channel's current join with "ok".
  void answerJoin(const std::shared_ptr<RealtimeChannel>& channel) {
    const auto ref = channel->joinRef().value_or("");
    harness.transport().receive(reply(ref, ref, channel->topic(), "ok"));
  }
  // Records the client's close reports.
  void recordCloses(const std::shared_ptr<RealtimeClient>& client) {
    client->onClose([this](const RealtimeClient::CloseReport& report) {
      closes.emplace_back(report.code, report.reason);
    });
  }

  SocketHarness harness;
  std::map<std::string, std::vector<std::string>> reports;
  Closes closes;
};

TEST_F(ChannelLeaveTest, AJoinLeftUnansweredNeverComesBackNorClosesTheNewerChannelOfItsTopic) {
  auto client = harness.openClient();
  client->setTimeout(2.0);
  auto keeper = client->channel("keeper");  // keeps the socket open when the first one goes
  auto first = client->channel("room");
  subscribe(first, "first");
  const auto firstJoin = first->joinRef();
  first->unsubscribe();
  EXPECT_EQ(first->state(), ChannelState::closed);

  auto second = client->channel("room");
  subscribe(second, "second");
  answerJoin(second);
  // Six of the first join's time-outs, with every rejoin the back-off would have made.
  for (int tick = 0; tick < 12; ++tick) harness.advance(1s);

  auto& transport = harness.transport();
  const auto joins = sent(transport, "phx_join");
  const auto leaves = sent(transport, "phx_leave");
  ASSERT_EQ(joins.size(), 2u);
  EXPECT_EQ(joins[0].first, *firstJoin);
  EXPECT_EQ(joins[1].first, *second->joinRef());
  ASSERT_EQ(leaves.size(), 1u);
  EXPECT_EQ(leaves[0].first, *firstJoin);
  EXPECT_EQ(second->state(), ChannelState::joined);
  EXPECT_THAT(reports["first"], ElementsAre("closed"));
  EXPECT_THAT(reports["second"], ElementsAre("subscribed"));
  std::vector<std::string> heard;
  second->on("broadcast", ChannelFilter{.event = "chat"},
             [&heard](const RealtimeMessage& m) { heard.push_back(m.event); });
  transport.receive(
      frame(second->joinRef(), std::nullopt, "realtime:room", "broadcast", {{"event", "chat"}}));
  EXPECT_THAT(heard, ElementsAre("broadcast"));
}

TEST_F(ChannelLeaveTest, ARejoinAlreadyPostedWhenTheChannelIsLeftDoesNothing) {
  harness.strand = Strand::serial();  // posted work waits behind the work under way
  auto client = harness.client();
  client->setRejoinAfter([](int) { return 0.5; });
  client->connect();
  harness.transport().open();
  ASSERT_TRUE(eventually([&] { return client->isConnected(); }));
  auto& transport = harness.transport();

  // Another channel's handler holds the strand while the refused channel's rejoin comes due,
  // and leaves that channel before the rejoin it posted gets its turn.
  auto refused = client->channel("room");
  std::mutex mutex;
  std::condition_variable changed;
  bool holding = false;
  bool rejoinPosted = false;
  auto busy = client->channel("busy");
  busy->on("broadcast", ChannelFilter{.event = "hold"}, [&](const RealtimeMessage&) {
    std::unique_lock lock(mutex);
    holding = true;
    changed.notify_all();
    changed.wait_for(lock, 10s, [&] { return rejoinPosted; });
    refused->unsubscribe();
  });
  subscribe(busy, "busy");
  answerJoin(busy);
  subscribe(refused, "refused");
  const auto refusedJoin = refused->joinRef().value_or("");
  transport.receive(reply(refusedJoin, refusedJoin, "realtime:room", "error"));
  ASSERT_TRUE(eventually([&] { return refused->isErrored(); }));

  transport.receive(frame(std::nullopt, std::nullopt, "realtime:busy", "broadcast",
                          {{"event", "hold"}, {"type", "broadcast"}}));
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return holding; }));
  }
  ASSERT_EQ(harness.advance(500ms), 1u);  // the rejoin timer posts the rejoin to the strand
  {
    std::lock_guard lock(mutex);
    rejoinPosted = true;
  }
  changed.notify_all();
  ASSERT_TRUE(eventually([&] { return !sent(transport, "phx_leave").empty(); }));
  client->strand()->sync([] {});  // and the rejoin it posted has had its turn
  EXPECT_EQ(refused->state(), ChannelState::closed);

  auto second = client->channel("room");
  std::vector<std::string> heard;
  second->on("broadcast", ChannelFilter{.event = "chat"},
             [&heard](const RealtimeMessage& m) { heard.push_back(m.event); });
  subscribe(second, "second");
  answerJoin(second);
  ASSERT_TRUE(eventually([&] { return second->isJoined(); }));
  for (int tick = 0; tick < 12; ++tick) harness.advance(1s);  // the refused one's back-off
  transport.receive(
      frame(second->joinRef(), std::nullopt, "realtime:room", "broadcast", {{"event", "chat"}}));
  ASSERT_TRUE(eventually([&] { return client->strand()->call([&] { return !heard.empty(); }); }));

  // After the refused channel's leave, the topic's only join is the second channel's.
  const auto frames = transport.frames();
  std::vector<std::string> afterLeave;
  bool left = false;
  for (const auto& sentFrame : frames) {
    const auto event = textAt(sentFrame, 3);
    if (textAt(sentFrame, 2) != "realtime:room" || (event != "phx_join" && event != "phx_leave"))
      continue;
    if (event == "phx_leave") left = true;
    if (left) afterLeave.push_back(event + " " + textAt(sentFrame, 0));
  }
  EXPECT_TRUE(left);
  EXPECT_THAT(afterLeave,
              ElementsAre(StartsWith("phx_leave"), "phx_join " + *second->joinRef()));
  EXPECT_EQ(second->state(), ChannelState::joined);
  EXPECT_THAT(heard, ElementsAre("broadcast"));
  EXPECT_THAT(reports["refused"], ElementsAre("channelError", "closed"));
  EXPECT_THAT(reports["second"], ElementsAre("subscribed"));
}

TEST_F(ChannelLeaveTest, AJoinStillBufferedWhenLeftNeverReachesTheServer) {
  auto client = harness.client();
  client->setTimeout(2.0);
  auto first = client->channel("room");
  subscribe(first, "first");  // connects; the join waits for the connection
  const auto firstJoin = first->joinRef();
  first->unsubscribe();
  auto second = client->channel("room");
  subscribe(second, "second");
  harness.transport().open();
  answerJoin(second);
  for (int tick = 0; tick < 12; ++tick) harness.advance(1s);

  // Nothing of the first channel follows the second one's join.
  const auto frames = harness.transport().frames();
  ASSERT_FALSE(frames.empty());
  std::size_t secondJoinAt = frames.size();
  for (std::size_t at = 0; at < frames.size(); ++at) {
    if (textAt(frames[at], 3) == "phx_join" && textAt(frames[at], 0) == *second->joinRef()) {
      secondJoinAt = at;
    }
  }
  ASSERT_LT(secondJoinAt, frames.size());
  for (std::size_t at = secondJoinAt; at < frames.size(); ++at) {
    EXPECT_NE(textAt(frames[at], 0), *firstJoin) << at;
  }
  EXPECT_EQ(sent(harness.transport(), "phx_join").size(), 1u);  // the second channel's alone
  EXPECT_LE(sent(harness.transport(), "phx_leave").size(), 1u);
  EXPECT_EQ(second->state(), ChannelState::joined);
  EXPECT_THAT(reports["first"], ElementsAre("closed"));
}

TEST_F(ChannelLeaveTest, AnUnsubscribedJoinedChannelIgnoresALateErrorAndStaysLeft) {
  auto client = harness.openClient();
  auto channel = client->channel("room");
  subscribe(channel, "room");
  answerJoin(channel);
  const auto joinRef = channel->joinRef();
  channel->unsubscribe();
  ASSERT_EQ(channel->state(), ChannelState::leaving);
  harness.transport().receive(frame(joinRef, joinRef, "realtime:room", "phx_error", {}));
  EXPECT_EQ(channel->state(), ChannelState::leaving);
  harness.advance(30s);
  EXPECT_EQ(sent(harness.transport(), "phx_join").size(), 1u);
  EXPECT_EQ(channel->state(), ChannelState::closed);  // the leave timed out
  EXPECT_THAT(reports["room"], ElementsAre("subscribed", "closed"));
}

TEST_F(ChannelLeaveTest, RemovingTheLastChannelWhileDisconnectedReportsOneClose) {
  auto client = harness.client();
  recordCloses(client);
  auto channel = client->channel("room");
  subscribe(channel, "room");  // connecting, never opened
  client->remove(channel);
  EXPECT_EQ(closes, (Closes{{1000, std::nullopt}}));
  EXPECT_THAT(reports["room"], ElementsAre("closed"));
  EXPECT_TRUE(client->channels().empty());

  // All of several at once: one close as well.
  auto again = harness.client();
  closes.clear();
  recordCloses(again);
  for (const char* name : {"a", "b", "c"}) subscribe(again->channel(name), name);
  again->removeAllChannels();
  EXPECT_EQ(closes, (Closes{{1000, std::nullopt}}));
  for (const char* name : {"a", "b", "c"}) EXPECT_THAT(reports[name], ElementsAre("closed"));
}

TEST_F(ChannelLeaveTest, AServerCloseBeforeTheLeavesAnswerIsReportedOnce) {
  auto client = harness.openClient();
  auto keeper = client->channel("keeper");  // keeps the socket open when the channel goes
  auto channel = client->channel("room");
  int onCloseRuns = 0;
  channel->onClose([&onCloseRuns](const RealtimeMessage&) { ++onCloseRuns; });
  subscribe(channel, "room");
  answerJoin(channel);
  const auto joinRef = channel->joinRef();
  const auto leave = channel->unsubscribe();
  harness.transport().receive(frame(joinRef, joinRef, "realtime:room", "phx_close", {}));
  EXPECT_EQ(channel->state(), ChannelState::closed);
  harness.transport().receive(reply(joinRef, *leave->ref(), "realtime:room", "ok"));
  harness.advance(30s);  // the leave's time-out
  EXPECT_EQ(onCloseRuns, 1);
  EXPECT_THAT(reports["room"], ElementsAre("subscribed", "closed"));
}

TEST_F(ChannelLeaveTest, ALeaveAnsweredOkOrErrorClosesOnceWhateverFollows) {
  auto client = harness.openClient();
  auto keeper = client->channel("keeper");  // keeps the socket open when a channel goes
  for (const std::string status : {"ok", "error", "surprise"}) {
    auto channel = client->channel(status);
    int onCloseRuns = 0;
    channel->onClose([&onCloseRuns](const RealtimeMessage&) { ++onCloseRuns; });
    subscribe(channel, status);
    answerJoin(channel);
    const auto joinRef = channel->joinRef();
    const auto leave = channel->unsubscribe();
    harness.transport().receive(reply(joinRef, *leave->ref(), channel->topic(), status));
    EXPECT_EQ(channel->state(), ChannelState::closed) << status;
    harness.transport().receive(frame(joinRef, joinRef, channel->topic(), "phx_close", {}));
    harness.advance(30s);
    EXPECT_EQ(onCloseRuns, 1) << status;
    EXPECT_THAT(reports[status], ElementsAre("subscribed", "closed"));
  }
}

TEST_F(ChannelLeaveTest, AnOrphansUnsubscribeReachesClosed) {
  auto client = harness.openClient();
  auto joined = client->channel("joined");
  subscribe(joined, "joined");
  answerJoin(joined);
  auto waiting = client->channel("waiting");  // never subscribed
  client.reset();                             // the channels are orphans now

  joined->unsubscribe();
  EXPECT_EQ(joined->state(), ChannelState::closed);
  EXPECT_THAT(reports["joined"], ElementsAre("subscribed", "closed"));
  waiting->unsubscribe();
  EXPECT_EQ(waiting->state(), ChannelState::closed);
  harness.advance(30s);
  EXPECT_THAT(reports["joined"], ElementsAre("subscribed", "closed"));
}

}  // namespace
}  // namespace voduzazi::realtime
