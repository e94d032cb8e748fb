// Both realtime clients against peers that misbehave: one gone silent after the handshake (a
// half-open connection, a hung server) and one that answers with statuses nobody knows.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>

#include "tests/realtime/thread_count.hpp"
#include "tests/realtime/misbehaving_server.hpp"
#include "tests/realtime/realtime_backend.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"
#include "voduzazi/realtime/realtime_channel_v2.hpp"
#include "voduzazi/realtime/realtime_client.hpp"
#include "voduzazi/realtime/realtime_client_v2.hpp"
#include "voduzazi/realtime/web_socket.hpp"

namespace voduzazi::realtime {
namespace {

using testing::MisbehavingServer;
using voduzazi::testing::EventRecorder;

// Counts what the callbacks of a test hear; waits on it with a deadline.
class Tally {
 public:
  void add(const std::string& what) {
    {
      std::lock_guard lock(mutex_);
      ++counts_[what];
    }
    changed_.notify_all();
  }
  int count(const std::string& what) {
    std::lock_guard lock(mutex_);
    return counts_[what];
  }
  bool waitFor(const std::string& what, int count) {
    return voduzazi::testing::waitUntil(
        mutex_, changed_, [&] { return counts_[what] >= count; }, std::chrono::seconds(30));
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::string, int> counts_;
};

std::shared_ptr<RealtimeClient> clientOf(const MisbehavingServer& server) {
  return RealtimeClient::make(std::string(server.url("/socket").buffer()), {},
                              JSONObject{{"apikey", "key"}});
}

TEST(URLSessionWebSocketAgainstASilentPeer, ACloseNobodyAnswersEndsWithOneCloseEvent) {
  MisbehavingServer server({.behaviour = MisbehavingServer::Behaviour::silent});
  WebSocketTaskConfiguration configuration;
  configuration.closeTimeout = std::chrono::milliseconds(200);
  auto socket = URLSessionWebSocket::connect(server.url(), std::nullopt, configuration);
  EventRecorder events(*socket);

  socket->close(1000, "bye");

  const auto close = events.waitForClose();
  ASSERT_TRUE(close.has_value());
  EXPECT_EQ(close->code, 1006);
  EXPECT_EQ(close->reason, "Connection timed out");
  EXPECT_TRUE(socket->isClosed());
  EXPECT_EQ(events.events().size(), 1u);
}

TEST(RealtimeClientAgainstAHungServer, AHeartbeatTimeoutClosesReconnectsAndRejoins) {
  // The server answers the join, then reads nothing more: heartbeats and the close go unanswered.
  MisbehavingServer server(
      {.behaviour = MisbehavingServer::Behaviour::replyWithStatus, .repliesBeforeSilence = 1});
  auto client = clientOf(server);
  client->setHeartbeatInterval(0.1);
  client->setTimeout(0.2);
  client->setReconnectAfter([](int) { return 0.05; });
  Tally tally;
  client->onClose([&](const RealtimeClient::CloseReport& report) {
    tally.add("close " + std::to_string(report.code));
  });
  auto channel = client->channel("room");
  channel->subscribe(std::nullopt, [&](RealtimeSubscribeStates state, const auto&) {
    if (state == RealtimeSubscribeStates::subscribed) tally.add("subscribed");
  });

  ASSERT_TRUE(tally.waitFor("subscribed", 2));
  EXPECT_GE(server.connections(), 2);
  EXPECT_GE(tally.count("close 999"), 1);
  client->disconnect();
}

TEST(RealtimeClientV2AgainstAHungServer, EachHeartbeatTimeoutEndsInANewConnectionThatRejoins) {
  // Every connection answers the join, sends one broadcast, then goes silent: the heartbeats
  // after it go unanswered, so each connection ends in a heartbeat time-out.
  MisbehavingServer server({.behaviour = MisbehavingServer::Behaviour::replyWithStatus,
                            .repliesBeforeSilence = 1,
                            .broadcastAfterJoin = "tick"});
  RealtimeClientOptions options(HeaderDictionary{{"apikey", "key"}});
  options.heartbeatInterval = Seconds(0.1);
  options.timeoutInterval = Seconds(1);
  options.reconnectDelay = Seconds(0.05);
  auto client = RealtimeClientV2::make(server.url("/realtime/v1"), options);
  Tally tally;
  std::mutex mutex;
  std::vector<RealtimeClientStatus> statuses;
  auto watch = client->onStatusChange([&](RealtimeClientStatus status) {
    std::lock_guard lock(mutex);
    statuses.push_back(status);
  });
  auto room = client->channel("room");
  auto ticks = room->onBroadcast("tick", [&](const JSONObject&) { tally.add("tick"); });
  room->subscribeWithError();

  // One broadcast per connection: each came after that connection's join of the channel.
  ASSERT_TRUE(tally.waitFor("tick", 4));
  EXPECT_GE(server.connections(), 4);
  {
    std::lock_guard lock(mutex);
    EXPECT_GE(std::count(statuses.begin(), statuses.end(), RealtimeClientStatus::disconnected), 4);
  }
  client->disconnect();
  EXPECT_EQ(client->status(), RealtimeClientStatus::disconnected);
}

class RealtimeChannelAgainstOddReplies : public ::testing::Test {
 protected:
  // Subscribes a channel with acknowledged broadcasts and waits for the join's answer.
  std::shared_ptr<RealtimeChannel> subscribed(const std::string& joinStatus) {
    server_.emplace(
        MisbehavingServer::Options{.behaviour = MisbehavingServer::Behaviour::replyWithStatus,
                                   .joinStatus = joinStatus,
                                   .pushStatus = "acknowledged"});
    client_ = clientOf(*server_);
    auto channel = client_->channel("room", {.broadcastAcknowledge = true});
    channel->subscribe(1.0, [this](RealtimeSubscribeStates state, const auto&) {
      tally_.add(state == RealtimeSubscribeStates::subscribed ? "subscribed" : "failed");
    });
    return channel;
  }

  std::optional<MisbehavingServer> server_;
  std::shared_ptr<RealtimeClient> client_;
  Tally tally_;
};

TEST_F(RealtimeChannelAgainstOddReplies, AnUnknownReplyStatusEndsABlockingSendAsAnError) {
  auto channel = subscribed("ok");
  ASSERT_TRUE(tally_.waitFor("subscribed", 1));

  EXPECT_EQ(channel->send(RealtimeListenTypes::broadcast, "ping", {}, {{"timeout", 1.0}}),
            ChannelResponse::error);
  EXPECT_EQ(channel->track({{"online", true}}), ChannelResponse::error);
  client_->disconnect();
}

TEST_F(RealtimeChannelAgainstOddReplies, AJoinAnsweredWithAnUnknownStatusFailsTheJoin) {
  auto channel = subscribed("pending");
  ASSERT_TRUE(tally_.waitFor("failed", 1));
  EXPECT_FALSE(channel->isJoining());
  EXPECT_FALSE(channel->isJoined());
  client_->disconnect();
}

TEST_F(RealtimeChannelAgainstOddReplies, AChannelWhoseClientIsGoneFailsAtOnce) {
  auto channel = subscribed("ok");
  ASSERT_TRUE(tally_.waitFor("subscribed", 1));
  client_->disconnect();
  client_.reset();

  EXPECT_EQ(channel->track({{"online", true}}), ChannelResponse::error);
  EXPECT_EQ(channel->untrack(), ChannelResponse::error);
  EXPECT_EQ(channel->send(RealtimeListenTypes::broadcast, "ping", {}), ChannelResponse::error);
}

TEST(RealtimeClientTimers, TenThousandPendingPushTimeOutsShareOneThread) {
  // The join is answered; the pushes after it never are, so each keeps its time-out pending.
  MisbehavingServer server(
      {.behaviour = MisbehavingServer::Behaviour::replyWithStatus, .repliesBeforeSilence = 1});
  auto client = clientOf(server);
  Tally tally;
  auto channel = client->channel("room");
  channel->subscribe(std::nullopt, [&](RealtimeSubscribeStates state, const auto&) {
    if (state == RealtimeSubscribeStates::subscribed) tally.add("subscribed");
  });
  ASSERT_TRUE(tally.waitFor("subscribed", 1));
  const int idle = testing::threadCount();

  std::vector<std::shared_ptr<Push>> pushes;
  for (int n = 0; n < 10'000; ++n) pushes.push_back(channel->push("broadcast", {{"n", n}}, 10.0));
  const int busy = testing::threadCount();

  std::printf("threads: idle client %d, with 10000 pending push time-outs %d\n", idle, busy);
  EXPECT_LE(busy, idle + 4);
  client->disconnect();
}

}  // namespace
}  // namespace voduzazi::realtime
