// The older client against the in-process stand-in backend, over loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "local_backend/realtime_service.hpp"
#include "tests/local_backend/test_client.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"
#include "voduzazi/realtime/realtime_client.hpp"

namespace voduzazi::realtime {
namespace {

using voduzazi::testing::eventually;

class RealtimeEndToEndTest : public local_backend::testing::BackendTest {
 protected:
  RealtimeEndToEndTest()
      : client_(RealtimeClient::make(server_.url() + "/realtime/v1", {},
                                     JSONObject{{"apikey", server_.anonKey()}})) {}
  ~RealtimeEndToEndTest() override { client_->disconnect(); }

  // A channel that hears its own broadcasts, subscribed; empty when the join failed.
  std::shared_ptr<RealtimeChannel> joined(const std::string& name) {
    auto channel = client_->channel(name, {.broadcastSelf = true, .broadcastAcknowledge = true});
    auto subscribed = std::make_shared<std::atomic<bool>>(false);
    channel->subscribe(std::nullopt, [subscribed](RealtimeSubscribeStates state, const auto&) {
      if (state == RealtimeSubscribeStates::subscribed) *subscribed = true;
    });
    if (!eventually([&] { return subscribed->load(); })) return nullptr;
    return channel;
  }

  std::shared_ptr<RealtimeClient> client_;
};

TEST_F(RealtimeEndToEndTest, AnUnsubscribedChannelClosesLeavesTheListAndHearsNoMore) {
  std::atomic<int> oldHeard = 0;
  std::atomic<int> newHeard = 0;
  auto first = client_->channel("room");
  first->on("broadcast", {.event = "chat"}, [&](const RealtimeMessage&) { ++oldHeard; });
  auto subscribed = std::make_shared<std::atomic<bool>>(false);
  first->subscribe(std::nullopt, [subscribed](RealtimeSubscribeStates state, const auto&) {
    if (state == RealtimeSubscribeStates::subscribed) *subscribed = true;
  });
  ASSERT_TRUE(eventually([&] { return subscribed->load(); }));

  first->unsubscribe();
  ASSERT_TRUE(eventually([&] { return first->isClosed(); }));
  EXPECT_TRUE(client_->channels().empty());

  auto second = joined("room");
  ASSERT_TRUE(second);
  second->on("broadcast", {.event = "chat"}, [&](const RealtimeMessage&) { ++newHeard; });
  EXPECT_EQ(second->send(RealtimeListenTypes::broadcast, "chat", {{"n", 1}}), ChannelResponse::ok);
  EXPECT_EQ(second->send(RealtimeListenTypes::broadcast, "chat", {{"n", 2}}), ChannelResponse::ok);
  ASSERT_TRUE(eventually([&] { return newHeard.load() == 2; }));
  EXPECT_EQ(oldHeard.load(), 0);
  EXPECT_EQ(client_->channels().size(), 1u);
}

TEST_F(RealtimeEndToEndTest, AChannelLeftBeforeItsJoinWasAnsweredLeavesTheNewerOneJoined) {
  client_->setTimeout(2.0);
  auto first = client_->channel("room");
  auto firstReports = std::make_shared<std::atomic<int>>(0);
  auto firstClosed = std::make_shared<std::atomic<int>>(0);
  first->subscribe(std::nullopt,
                   [firstReports, firstClosed](RealtimeSubscribeStates state, const auto&) {
                     ++*firstReports;
                     if (state == RealtimeSubscribeStates::closed) ++*firstClosed;
                   });
  first->unsubscribe();
  auto second = joined("room");
  ASSERT_TRUE(second);
  const auto secondJoin = second->joinRef();
  auto heard = std::make_shared<std::atomic<int>>(0);
  second->on("broadcast", {.event = "chat"}, [heard](const RealtimeMessage&) { ++*heard; });

  // The server's count of the first channel's joins and leaves (those not of the second join).
  const auto firstFrames = [&](std::string_view event) {
    int count = 0;
    for (const auto& frame : server_.realtime().hub().membershipFrames("realtime:room")) {
      count += frame.event == event && frame.joinRef != secondJoin;
    }
    return count;
  };
  // Over 12 s (six of the first join's time-outs) nothing may bring the first channel back.
  // Every frame the client receives wakes the check, so that a fault shows at once.
  struct Wake {
    std::mutex mutex;
    std::condition_variable received;
  };
  auto wake = std::make_shared<Wake>();
  const auto listening =
      client_->onMessage([wake](const RealtimeMessage&) { wake->received.notify_all(); });
  std::unique_lock lock(wake->mutex);
  const bool cameBack = wake->received.wait_for(lock, std::chrono::seconds(12), [&] {
    return firstFrames("phx_join") > 1 || firstFrames("phx_leave") > 1 || !second->isJoined();
  });
  lock.unlock();
  client_->off({listening});
  std::printf("from the first channel: %d joins, %d leaves; its reports: %d\n",
              firstFrames("phx_join"), firstFrames("phx_leave"), firstReports->load());
  EXPECT_FALSE(cameBack);
  EXPECT_LE(firstFrames("phx_join"), 1);
  EXPECT_LE(firstFrames("phx_leave"), 1);
  EXPECT_EQ(firstReports->load(), 1);
  EXPECT_EQ(firstClosed->load(), 1);
  EXPECT_TRUE(second->isJoined());
  EXPECT_EQ(second->send(RealtimeListenTypes::broadcast, "chat", {{"n", 1}}), ChannelResponse::ok);
  EXPECT_TRUE(eventually([&] { return heard->load() == 1; }));
}

TEST_F(RealtimeEndToEndTest, ADeeplyNestedBroadcastArrives) {
  JSONObject deep{{"text", "deep"}};
  for (int level = 1; level < 40; ++level) deep = JSONObject{{"next", std::move(deep)}};
  auto channel = joined("deep");
  ASSERT_TRUE(channel);
  std::mutex mutex;
  std::optional<AnyJSON> heard;
  channel->on("broadcast", {.event = "dive"}, [&](const RealtimeMessage& message) {
    std::lock_guard lock(mutex);
    heard = message.payload().at("payload");
  });
  EXPECT_EQ(channel->send(RealtimeListenTypes::broadcast, "dive", {{"payload", deep}}),
            ChannelResponse::ok);
  ASSERT_TRUE(eventually([&] {
    std::lock_guard lock(mutex);
    return heard.has_value();
  }));
  std::lock_guard lock(mutex);
  EXPECT_EQ(*heard, AnyJSON(deep));
}

}  // namespace
}  // namespace voduzazi::realtime
