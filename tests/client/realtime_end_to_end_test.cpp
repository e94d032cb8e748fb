// The older realtime client, as the facade builds it, against the in-process stand-in backend:
// joins, broadcasts between two clients (also over HTTP from a signed-in one), presence of two
// users, row changes written through REST, and a rejoin after the server drops the connection.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <boost/uuid/uuid_io.hpp>
#include <mutex>
#include <random>

#include "local_backend/realtime_service.hpp"
#include "local_backend/server.hpp"
#include "tests/postgrest/message_rows.hpp"
#include "tests/support/checked_list.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/client/voduzazi_client.hpp"
#include "voduzazi/realtime/presence.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"
#include "voduzazi/realtime/realtime_client.hpp"

namespace voduzazi::testing {
namespace {

using realtime::ChannelFilter;
using realtime::ChannelResponse;
using realtime::ChannelState;
using realtime::RealtimeChannel;
using realtime::RealtimeListenTypes;
using realtime::RealtimeMessage;
using realtime::RealtimeSubscribeStates;

// What a channel's handlers received, safe to read from the test's thread.
class Inbox {
 public:
  realtime::RealtimeChannel::Handler handler() {
    return [this](const RealtimeMessage& message) {
      std::lock_guard lock(mutex_);
      messages_.push_back(message);
    };
  }
  std::vector<RealtimeMessage> messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
  }
  bool waitForCount(std::size_t count) {
    return eventually([&] { return messages().size() >= count; });
  }

 private:
  mutable std::mutex mutex_;
  std::vector<RealtimeMessage> messages_;
};

class RealtimeEndToEndTest : public ::testing::Test {
 protected:
  std::unique_ptr<VoduzaziClient> facade() {
    VoduzaziClientOptions options;
    options.auth.storage = std::make_shared<auth::InMemoryAuthLocalStorage>();
    return std::make_unique<VoduzaziClient>(server.url(), server.anonKey(), options);
  }

  // Subscribes and waits for the server's answer; true when subscribed.
  static bool subscribed(const std::shared_ptr<RealtimeChannel>& channel) {
    auto state = std::make_shared<std::atomic<int>>(-1);
    channel->subscribe(std::nullopt, [state](RealtimeSubscribeStates reported, const auto&) {
      state->store(static_cast<int>(reported));
    });
    return eventually([&] { return state->load() >= 0; }) &&
           state->load() == static_cast<int>(RealtimeSubscribeStates::subscribed);
  }

  static std::string eventOf(const RealtimeMessage& message) {
    const auto* event = message.payload().at("event").stringValue();
    return event ? *event : "";
  }

  local_backend::Server server;
};

TEST_F(RealtimeEndToEndTest, TwoClientsJoinAndBroadcastOverTheSocketAndOverHTTP) {
  const auto ada = facade();
  const auto bob = facade();
  EXPECT_FALSE(ada->realtime()->isConnected());  // nothing connects before a subscribe

  auto adaRoom = ada->realtime()->channel("room");
  auto bobRoom = bob->realtime()->channel("room");
  Inbox bobs;
  bobRoom->on("broadcast", ChannelFilter{.event = "ping"}, bobs.handler());
  ASSERT_TRUE(subscribed(adaRoom));
  ASSERT_TRUE(subscribed(bobRoom));
  EXPECT_TRUE(ada->realtime()->isConnected());

  EXPECT_EQ(adaRoom->send(RealtimeListenTypes::broadcast, "ping", {{"n", 1}}), ChannelResponse::ok);
  ASSERT_TRUE(bobs.waitForCount(1));
  EXPECT_EQ(bobs.messages()[0].payload().at("n"), AnyJSON(1));

  // A channel that has not joined broadcasts through the HTTP endpoint.
  auto outside = ada->realtime()->channel("room");
  EXPECT_EQ(outside->send(RealtimeListenTypes::broadcast, "ping", {{"n", 2}}), ChannelResponse::ok);
  ASSERT_TRUE(bobs.waitForCount(2));
  EXPECT_EQ(eventOf(bobs.messages()[1]), "ping");
}

TEST_F(RealtimeEndToEndTest, ASignedInProgramBroadcastsOverHTTPBeforeAndAfterSignOut) {
  const auto ada = facade();
  const auto bob = facade();
  auto bobRoom = bob->realtime()->channel("room");
  Inbox bobs;
  bobRoom->on("broadcast", ChannelFilter{.event = "ping"}, bobs.handler());
  ASSERT_TRUE(subscribed(bobRoom));

  const auto signUp = ada->auth().signUp(
      "ada-" + std::to_string(std::random_device{}()) + "@example.com", "a long password");
  ASSERT_TRUE(signUp.session());
  const std::string token = signUp.session()->accessToken;
  ASSERT_TRUE(eventually([&] { return ada->realtime()->accessToken() == token; }));
  // Ada's channel never joins, so each broadcast goes through the HTTP endpoint.
  auto outside = ada->realtime()->channel("room");
  EXPECT_EQ(outside->send(RealtimeListenTypes::broadcast, "ping", {{"n", 1}}), ChannelResponse::ok);
  // The endpoint wraps what was sent in a broadcast of its own.
  const auto sent = [&](std::size_t index) {
    return bobs.messages().at(index).payload().at("payload").objectValue()->at("n");
  };
  ASSERT_TRUE(bobs.waitForCount(1));
  EXPECT_EQ(sent(0), AnyJSON(1));

  ada->auth().signOut();
  ASSERT_TRUE(eventually([&] { return ada->realtime()->accessToken() == server.anonKey(); }));
  EXPECT_EQ(outside->send(RealtimeListenTypes::broadcast, "ping", {{"n", 2}}), ChannelResponse::ok);
  ASSERT_TRUE(bobs.waitForCount(2));
  EXPECT_EQ(sent(1), AnyJSON(2));
}

TEST_F(RealtimeEndToEndTest, TwoUsersSeeEachOthersPresence) {
  const auto ada = facade();
  const auto bob = facade();
  auto adaLobby = ada->realtime()->channel("lobby", {.presenceKey = "ada"});
  auto bobLobby = bob->realtime()->channel("lobby", {.presenceKey = "bob"});
  auto syncs = std::make_shared<std::atomic<int>>(0);
  adaLobby->presence()->onSync([syncs] { ++*syncs; });
  ASSERT_TRUE(subscribed(adaLobby));
  ASSERT_TRUE(subscribed(bobLobby));
  EXPECT_EQ(adaLobby->track({{"name", "Ada"}}), ChannelResponse::ok);
  EXPECT_EQ(bobLobby->track({{"name", "Bob"}}), ChannelResponse::ok);

  const auto keys = [](const std::shared_ptr<RealtimeChannel>& channel) {
    std::vector<std::string> present;
    for (const auto& [key, presence] : channel->presenceState()) present.push_back(key);
    return present;
  };
  const std::vector<std::string> both{"ada", "bob"};
  EXPECT_TRUE(eventually([&] { return keys(adaLobby) == both && keys(bobLobby) == both; }));
  EXPECT_GE(syncs->load(), 2);

  EXPECT_EQ(bobLobby->untrack(), ChannelResponse::ok);
  EXPECT_TRUE(eventually([&] { return keys(adaLobby) == std::vector<std::string>{"ada"}; }));
}

TEST_F(RealtimeEndToEndTest, ARowInsertedThroughRESTArrivesAsAPostgresChange) {
  const auto ada = facade();
  const auto session = ada->auth().signUp(
      "ada-" + std::to_string(std::random_device{}()) + "@example.com", "a long password");
  ASSERT_TRUE(session.session());
  const std::string adaID = boost::uuids::to_string(session.user().id);
  const std::string token = session.session()->accessToken;
  // The facade hands the signed-in user's token to the realtime client.
  ASSERT_TRUE(eventually([&] { return ada->realtime()->accessToken() == token; }));

  auto inbox = ada->realtime()->channel("inbox");
  Inbox changes;
  inbox->on("postgres_changes",
            ChannelFilter{.event = "INSERT", .schema = "public", .table = "messages"},
            changes.handler());
  ASSERT_TRUE(subscribed(inbox));
  EXPECT_TRUE(firstOf(inbox->bindings().at("postgres_changes"), "the bindings").id);

  ada->from("messages").insert(NewMessage{adaID, adaID, "note to self"}).execute();
  ASSERT_TRUE(changes.waitForCount(1));
  const JSONObject data = *changes.messages()[0].payload().at("data").objectValue();
  EXPECT_EQ(data.at("type"), AnyJSON("INSERT"));
  EXPECT_EQ(data.at("record").objectValue()->at("content"), AnyJSON("note to self"));
}

TEST_F(RealtimeEndToEndTest, AChannelRejoinsAfterTheServerDropsTheConnection) {
  const auto ada = facade();
  const auto bob = facade();
  auto adaRoom = ada->realtime()->channel("room");
  auto bobRoom = bob->realtime()->channel("room");
  Inbox adas;
  adaRoom->on("broadcast", ChannelFilter{.event = "*"}, adas.handler());
  ASSERT_TRUE(subscribed(adaRoom));
  ASSERT_TRUE(subscribed(bobRoom));
  const auto firstJoin = adaRoom->joinRef();

  auto& hub = server.realtime().hub();
  const auto sockets = hub.sockets();
  ASSERT_EQ(sockets.size(), 2u);
  ASSERT_TRUE(hub.drop(sockets.front()));  // ada connected first

  EXPECT_TRUE(eventually([&] {
    return adaRoom->isJoined() && adaRoom->joinRef() != firstJoin && hub.sockets().size() == 2;
  }));
  EXPECT_EQ(bobRoom->send(RealtimeListenTypes::broadcast, "again", {}), ChannelResponse::ok);
  ASSERT_TRUE(adas.waitForCount(1));
  EXPECT_EQ(eventOf(adas.messages()[0]), "again");
}

TEST_F(RealtimeEndToEndTest, RemovingTheLastChannelClosesTheSocket) {
  const auto ada = facade();
  auto room = ada->realtime()->channel("room");
  ASSERT_TRUE(subscribed(room));
  ada->realtime()->remove(room);
  EXPECT_FALSE(ada->realtime()->isConnected());
  EXPECT_TRUE(eventually([&] { return server.realtime().hub().sockets().empty(); }));
}

}  // namespace
}  // namespace voduzazi::testing
