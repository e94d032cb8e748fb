// The older client against the in-process stand-in backend, over loopback.
#include <gtest/gtest.h>

#include <atomic>

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
