// Leaving an older-client channel over a fake transport and the test clock: a close is reported
// once however it comes (the server's close, the leave's answer or time-out, a removal, or with
// the client gone).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/realtime/fake_socket.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"

namespace voduzazi::realtime {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using testing::frame;
using testing::reply;
using testing::SocketHarness;
using testing::textAt;
using Closes = std::vector<std::pair<int, std::optional<std::string>>>;

std::string nameOf(RealtimeSubscribeStates state) {
  switch (state) {
    case RealtimeSubscribeStates::subscribed:
      return "subscribed";
    case RealtimeSubscribeStates::timedOut:
      return "timedOut";
    case RealtimeSubscribeStates::closed:
      return "closed";
    case RealtimeSubscribeStates::channelError:
      return "channelError";
  }
  return "";
}

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
