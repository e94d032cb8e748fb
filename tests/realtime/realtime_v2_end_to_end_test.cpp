// The second-generation client against the in-process stand-in backend, over loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <boost/uuid/string_generator.hpp>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "local_backend/realtime_service.hpp"
#include "tests/local_backend/test_client.hpp"
#include "tests/realtime/silent_listener.hpp"
#include "tests/realtime/thread_count.hpp"
#include "tests/support/checked_list.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/realtime/realtime_channel_v2.hpp"
#include "voduzazi/realtime/realtime_client_v2.hpp"

namespace voduzazi::realtime {
namespace {

using namespace std::chrono_literals;
using voduzazi::testing::eventually;
using voduzazi::testing::firstOf;
using voduzazi::testing::threadCount;

// What a callback saw, for the test thread to wait on; shared objects: safe.
template <class T>
class Inbox {
 public:
  void add(T value) {
    std::lock_guard lock(mutex_);
    values_.push_back(std::move(value));
  }
  std::vector<T> values() const {
    std::lock_guard lock(mutex_);
    return values_;
  }
  bool waitForCount(std::size_t count) const {
    return eventually([&] { return values().size() >= count; });
  }

 private:
  mutable std::mutex mutex_;
  std::vector<T> values_;
};

class RealtimeV2EndToEndTest : public local_backend::testing::BackendTest {
 protected:
  std::shared_ptr<RealtimeClientV2> makeClient(
      std::optional<std::string> token = std::nullopt,
      Seconds timeout = RealtimeClientOptions::defaultTimeoutInterval) {
    HeaderDictionary headers{{"apikey", server_.anonKey()}};
    headers["Authorization"] = "Bearer " + token.value_or(server_.anonKey());
    RealtimeClientOptions options(headers);
    options.reconnectDelay = Seconds(0.05);
    options.timeoutInterval = timeout;
    return RealtimeClientV2::make(boost::urls::url(server_.url() + "/realtime/v1"), options);
  }

  // "subscribed", or what the subscribe threw.
  static std::string subscribeOutcome(RealtimeChannelV2& channel) {
    try {
      channel.subscribeWithError();
      return "subscribed";
    } catch (const std::exception& error) {
      return error.what();
    }
  }

  // Inserts a message row as the sender, whose token it takes.
  ::testing::AssertionResult sendMessage(const std::string& senderId, const std::string& receiverId,
                                         const std::string& content, const std::string& token) {
    const auto sent = post("/rest/v1/messages",
                           R"({"sender_id":")" + senderId + R"(","receiver_id":")" + receiverId +
                               R"(","content":")" + content + R"("})",
                           token);
    if (sent.status == 201) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << sent.status << " " << sent.body;
  }

  static std::string text(const JSONObject& broadcast) {
    const auto* payload = broadcast.at("payload").objectValue();
    return payload ? *payload->at("text").stringValue() : "";
  }
};

TEST_F(RealtimeV2EndToEndTest, BroadcastsReachTheOtherClientOverTheSocketAndOverHTTP) {
  auto ada = makeClient();
  auto bob = makeClient();
  Inbox<std::string> received;
  auto adaRoom = ada->channel(
      "room", [](RealtimeChannelConfig& config) { config.broadcast.acknowledgeBroadcasts = true; });
  auto bobRoom = bob->channel("room");
  auto token = bobRoom->onBroadcast("chat", [&](const JSONObject& b) { received.add(text(b)); });
  // Not joined yet: over HTTP, acknowledged by the HTTP answer.
  bobRoom->subscribeWithError();
  EXPECT_EQ(adaRoom->broadcast("chat", JSONObject{{"text", "by http"}}), PushStatus::ok);
  ASSERT_TRUE(received.waitForCount(1));
  adaRoom->subscribeWithError();
  EXPECT_EQ(adaRoom->broadcast("chat", JSONObject{{"text", "by socket"}}), PushStatus::ok);
  ASSERT_TRUE(received.waitForCount(2));
  EXPECT_EQ(received.values(), (std::vector<std::string>{"by http", "by socket"}));
  EXPECT_EQ(ada->status(), RealtimeClientStatus::connected);
}

TEST_F(RealtimeV2EndToEndTest, TellsOthersWhoIsPresent) {
  auto ada = makeClient();
  auto bob = makeClient();
  auto adaRoom = ada->channel("lobby");
  auto changes = adaRoom->presenceChange();
  adaRoom->subscribeWithError();
  auto bobRoom = bob->channel("lobby", [](RealtimeChannelConfig& c) { c.presence.key = "bob"; });
  bobRoom->subscribeWithError();
  bobRoom->track(JSONObject{{"status", "online"}});
  for (;;) {
    const auto change = changes.next();
    ASSERT_TRUE(change);
    if (change->joins().empty()) continue;  // the state sent on joining was empty
    EXPECT_EQ(change->joins().at("bob").state, (JSONObject{{"status", "online"}}));
    break;
  }
  bobRoom->untrack();
  const auto left = changes.next();
  ASSERT_TRUE(left);
  EXPECT_TRUE(left->leaves().contains("bob"));
}

TEST_F(RealtimeV2EndToEndTest, DeliversARowChangeTheUserMayRead) {
  const auto adaUser = signUp("ada");
  const auto bobUser = signUp("bob");
  auto ada = makeClient(adaUser.accessToken);
  auto inbox = ada->channel("inbox");
  auto inserts = inbox->postgresChange<InsertAction>(
      "public", "messages", RealtimePostgresFilter::eq("receiver_id", adaUser.id));
  // A list item holding a comma stays one item.
  auto greetings = inbox->postgresChange<InsertAction>(
      "public", "messages", RealtimePostgresFilter::in("content", {"hello, ada", "hi"}));
  inbox->subscribeWithError();
  ASSERT_TRUE(sendMessage(bobUser.id, adaUser.id, "hello, ada", bobUser.accessToken));
  const auto change = inserts.next();
  ASSERT_TRUE(change);
  EXPECT_EQ(change->record.at("content"), AnyJSON("hello, ada"));
  EXPECT_EQ(change->rawMessage.topic, "realtime:inbox");
  EXPECT_FALSE(change->columns.empty());
  const auto greeting = greetings.next();
  ASSERT_TRUE(greeting);
  EXPECT_EQ(greeting->record, change->record);
}

TEST_F(RealtimeV2EndToEndTest, ReconnectsAfterTheServerDropsItAndJoinsAgain) {
  auto ada = makeClient();
  auto bob = makeClient();
  Inbox<std::string> received;
  auto adaRoom = ada->channel("room");
  auto token = adaRoom->onBroadcast("chat", [&](const JSONObject& b) { received.add(text(b)); });
  adaRoom->subscribeWithError();
  auto bobRoom = bob->channel("room");
  bobRoom->subscribeWithError();
  auto& hub = server_.realtime().hub();
  const auto sockets = hub.sockets();
  ASSERT_EQ(sockets.size(), 2u);
  Inbox<RealtimeChannelStatus> roomStatuses;
  auto watch = adaRoom->onStatusChange([&](RealtimeChannelStatus s) { roomStatuses.add(s); });
  ASSERT_TRUE(roomStatuses.waitForCount(1));  // the current status comes first
  ASSERT_TRUE(hub.drop(sockets.front()));     // ada's socket, connected first
  // The rejoin passes through subscribing and back to subscribed.
  ASSERT_TRUE(roomStatuses.waitForCount(3));
  EXPECT_EQ(roomStatuses.values()[1], RealtimeChannelStatus::subscribing);
  EXPECT_EQ(roomStatuses.values()[2], RealtimeChannelStatus::subscribed);
  EXPECT_EQ(hub.sockets().size(), 2u);
  bobRoom->broadcast("chat", JSONObject{{"text", "again"}});
  ASSERT_TRUE(received.waitForCount(1));
  EXPECT_EQ(adaRoom->status(), RealtimeChannelStatus::subscribed);
  ada->removeAllChannels();
  EXPECT_EQ(ada->status(), RealtimeClientStatus::disconnected);
  ASSERT_TRUE(eventually([&] { return hub.sockets().size() == 1; }));
}

TEST_F(RealtimeV2EndToEndTest, AUuidTypedFilterMatchesRowsStoredInLowerCase) {
  const auto adaUser = signUp("ada");
  const auto bobUser = signUp("bob");
  auto ada = makeClient(adaUser.accessToken);
  auto inbox = ada->channel("inbox");
  // Typed, the uuid is written in capitals; the server stores it in lower case.
  auto inserts = inbox->postgresChange<InsertAction>(
      "public", "messages",
      RealtimePostgresFilter::eq("receiver_id",
                                 FilterValue(boost::uuids::string_generator()(adaUser.id))));
  inbox->subscribeWithError();
  ASSERT_TRUE(sendMessage(bobUser.id, adaUser.id, "typed", bobUser.accessToken));
  const auto change = inserts.next();
  ASSERT_TRUE(change);
  EXPECT_EQ(change->record.at("content"), AnyJSON("typed"));
}

TEST_F(RealtimeV2EndToEndTest, ASecondObjectForATakenTopicIsRefusedAndTheLiveOneKeepsItsChanges) {
  const auto adaUser = signUp("ada");
  auto ada = makeClient(adaUser.accessToken);
  auto stale = ada->channel("inbox");
  stale->subscribeWithError();
  ada->removeChannel(stale);
  auto live = ada->channel("inbox");
  auto inserts = live->postgresChange<InsertAction>("public", "messages");
  live->subscribeWithError();

  try {
    stale->subscribeWithError();
    ADD_FAILURE() << "the stale object joined";
  } catch (const RealtimeError& error) {
    EXPECT_NE(std::string(error.what()).find("Another channel object holds topic"),
              std::string::npos)
        << error.what();
  }
  EXPECT_EQ(live->status(), RealtimeChannelStatus::subscribed);
  EXPECT_EQ(ada->channels().at("realtime:inbox"), live);
  ASSERT_TRUE(sendMessage(adaUser.id, adaUser.id, "still here", adaUser.accessToken));
  const auto change = inserts.next();
  ASSERT_TRUE(change);
  EXPECT_EQ(change->record.at("content"), AnyJSON("still here"));
}

// A payload nested 40 levels deep: {"next": {"next": ... {"text": "deep"}}}.
JSONObject deepPayload(int levels) {
  JSONObject payload{{"text", "deep"}};
  for (int i = 1; i < levels; ++i) payload = JSONObject{{"next", std::move(payload)}};
  return payload;
}

TEST_F(RealtimeV2EndToEndTest, ADeeplyNestedBroadcastArrives) {
  auto ada = makeClient();
  auto bob = makeClient();
  Inbox<JSONObject> received;
  auto adaRoom = ada->channel(
      "deep", [](RealtimeChannelConfig& config) { config.broadcast.acknowledgeBroadcasts = true; });
  auto bobRoom = bob->channel("deep");
  auto token = bobRoom->onBroadcast("dive", [&](const JSONObject& b) { received.add(b); });
  bobRoom->subscribeWithError();
  adaRoom->subscribeWithError();
  EXPECT_EQ(adaRoom->broadcast("dive", deepPayload(40)), PushStatus::ok);
  ASSERT_TRUE(received.waitForCount(1));
  EXPECT_EQ(received.values().front().at("payload"), AnyJSON(deepPayload(40)));
  EXPECT_EQ(bob->status(), RealtimeClientStatus::connected);
}

TEST_F(RealtimeV2EndToEndTest, EightThreadsSubscribingBroadcastingAndRemovingOnSharedTopics) {
  HeaderDictionary headers{{"apikey", server_.anonKey()}};
  RealtimeClientOptions options(headers);
  options.timeoutInterval = Seconds(2);
  options.maxRetryAttempts = 2;
  auto client = RealtimeClientV2::make(boost::urls::url(server_.url() + "/realtime/v1"), options);
  // Another thread may remove the object a thread subscribes, or hand it a newer object of the
  // topic; those two endings are the race itself, anything else is a failure.
  std::mutex mutex;
  std::map<std::string, int> endings;
  std::vector<std::string> failures;
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 25; ++i) {
        auto room = client->channel("stress-" + std::to_string(i % 3));
        std::string ending = "subscribed";
        try {
          room->subscribeWithError();
          room->broadcast("tick", JSONObject{{"i", i}});
        } catch (const std::exception& error) {
          ending = error.what();
        }
        client->removeChannel(room);
        std::lock_guard lock(mutex);
        if (ending.find("was removed") != std::string::npos) ending = "removed";
        if (ending.find("Another channel object holds") != std::string::npos) ending = "taken";
        ++endings[ending];
        if (ending != "subscribed" && ending != "removed" && ending != "taken") {
          failures.push_back(ending);
        }
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::printf("200 subscribes on 3 shared topics: %d subscribed, %d removed, %d taken\n",
              endings["subscribed"], endings["removed"], endings["taken"]);
  EXPECT_TRUE(failures.empty()) << failures.size() << " failures, the first: " << failures.front();
  EXPECT_GT(endings["subscribed"], 0);
  client->removeAllChannels();
  EXPECT_EQ(client->status(), RealtimeClientStatus::disconnected);
  EXPECT_TRUE(eventually([&] { return server_.realtime().hub().sockets().empty(); }));
}

TEST_F(RealtimeV2EndToEndTest, RemovingAChannelDuringItsJoinLeavesTheTopicToTheNewObject) {
  const auto adaUser = signUp("ada");
  auto ada = makeClient(adaUser.accessToken, Seconds(3));
  auto keep = ada->channel("keep");  // keeps the client connected
  keep->subscribeWithError();
  auto& hub = server_.realtime().hub();
  const auto socket = firstOf(hub.sockets(), "the hub's sockets");
  auto old = ada->channel("inbox");
  hub.pause(socket);  // a slow server: the join waits
  Task<std::string> oldSubscribe([old] { return subscribeOutcome(*old); });
  ASSERT_TRUE(eventually([&] { return hub.heldFrames(socket) == 1; }));

  ada->removeChannel(old);
  ASSERT_TRUE(eventually([&] { return oldSubscribe.isFinished(); }, 2s))
      << "the removed channel's subscribe goes on";
  EXPECT_NE(oldSubscribe.value().find("realtime:inbox was removed"), std::string::npos)
      << oldSubscribe.value();
  auto live = ada->channel("inbox");
  auto inserts = live->postgresChange<InsertAction>("public", "messages");
  Task<std::string> liveSubscribe([live] { return subscribeOutcome(*live); });
  ASSERT_TRUE(eventually([&] { return hub.heldFrames(socket) >= 2; }));
  hub.resume(socket);
  EXPECT_EQ(liveSubscribe.value(), "subscribed");

  EXPECT_EQ(hub.changeSubscriptions("realtime:inbox"), 1u);
  ASSERT_TRUE(sendMessage(adaUser.id, adaUser.id, "first", adaUser.accessToken));
  ASSERT_TRUE(sendMessage(adaUser.id, adaUser.id, "second", adaUser.accessToken));
  for (const char* content : {"first", "second"}) {
    const auto change = inserts.next();
    ASSERT_TRUE(change);
    EXPECT_EQ(change->record.at("content"), AnyJSON(content));
  }
  EXPECT_EQ(live->status(), RealtimeChannelStatus::subscribed);
  EXPECT_EQ(old->status(), RealtimeChannelStatus::unsubscribed);
}

TEST_F(RealtimeV2EndToEndTest, RemovingAllChannelsDuringAJoinLeavesTheClientDisconnected) {
  auto ada = makeClient(std::nullopt, Seconds(3));
  auto& hub = server_.realtime().hub();
  hub.pauseNewSockets(true);  // a hung server: the join is never answered
  auto room = ada->channel("room");
  Task<std::string> subscribing([room] { return subscribeOutcome(*room); });
  ASSERT_TRUE(eventually([&] {
    const auto sockets = hub.sockets();
    return sockets.size() == 1 && hub.heldFrames(sockets.front()) == 1;
  }));

  ada->removeAllChannels();
  EXPECT_EQ(ada->status(), RealtimeClientStatus::disconnected);
  ASSERT_TRUE(eventually([&] { return subscribing.isFinished(); }, 2s))
      << "the removed channel's subscribe goes on";
  EXPECT_NE(subscribing.value().find("was removed"), std::string::npos) << subscribing.value();
  // Nothing is left to connect again: the subscribe has ended, and the socket closes.
  EXPECT_TRUE(eventually([&] { return hub.sockets().empty(); }));
  EXPECT_EQ(ada->status(), RealtimeClientStatus::disconnected);
  EXPECT_EQ(hub.socketsAttached(), 1u);
}

// Keeps the lines logged to it; shared objects: safe.
class LineLogger final : public VoduzaziLogger {
 public:
  using VoduzaziLogger::log;
  void log(const VoduzaziLogMessage& message) override {
    std::lock_guard lock(mutex_);
    lines_.push_back(message.message);
  }
  bool contains(std::string_view text) const {
    std::lock_guard lock(mutex_);
    return std::any_of(lines_.begin(), lines_.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

class RealtimeV2OutageTest : public RealtimeV2EndToEndTest {
 protected:
  // Short intervals: a join attempt gets a second, a subscribe two attempts.
  std::shared_ptr<RealtimeClientV2> makeImpatientClient() {
    RealtimeClientOptions options(HeaderDictionary{{"apikey", server_.anonKey()}});
    options.heartbeatInterval = Seconds(0.5);
    options.timeoutInterval = Seconds(1);
    options.maxRetryAttempts = 2;
    options.reconnectDelay = Seconds(0.05);
    options.logger = logger_;
    return RealtimeClientV2::make(boost::urls::url(server_.url() + "/realtime/v1"), options);
  }

  // A broadcast over HTTP from another client reaches `room`'s listener.
  void expectABroadcastArrives(Inbox<std::string>& received) {
    auto bob = makeClient();
    auto bobRoom = bob->channel(
        "room", [](RealtimeChannelConfig& c) { c.broadcast.acknowledgeBroadcasts = true; });
    const auto before = received.values().size();
    EXPECT_EQ(bobRoom->broadcast("chat", JSONObject{{"text", "after"}}), PushStatus::ok);
    ASSERT_TRUE(received.waitForCount(before + 1));
    EXPECT_EQ(received.values().back(), "after");
  }

  std::shared_ptr<LineLogger> logger_ = std::make_shared<LineLogger>();
};

TEST_F(RealtimeV2OutageTest, AChannelWhoseRejoinGaveUpDuringALongOutageJoinsAgainAfterIt) {
  auto ada = makeImpatientClient();
  auto room = ada->channel("room");
  Inbox<std::string> received;
  auto token = room->onBroadcast("chat", [&](const JSONObject& b) { received.add(text(b)); });
  room->subscribeWithError();
  // The server hangs: it answers nothing, on this connection and on the next ones, for longer
  // than a subscribe's attempts last.
  auto& hub = server_.realtime().hub();
  hub.pauseNewSockets(true);
  hub.pause(firstOf(hub.sockets(), "the hub's sockets"));
  ASSERT_TRUE(eventually(
      [&] {
        return hub.socketsAttached() >= 6 &&
               logger_->contains("Subscription to channel 'realtime:room' failed after 2");
      },
      60s));
  hub.pauseNewSockets(false);

  ASSERT_TRUE(eventually([&] { return room->status() == RealtimeChannelStatus::subscribed; }, 60s))
      << "never joined again after " << hub.socketsAttached() << " connections";
  expectABroadcastArrives(received);
  // The rejoins hold the client only while they run.
  std::weak_ptr<RealtimeClientV2> weak = ada;
  ada.reset();
  EXPECT_TRUE(eventually([&] { return weak.expired(); }, 30s));
}

TEST_F(RealtimeV2OutageTest, AFirstSubscribeThatGaveUpWhileTheServerWasDownJoinsOnceItIsUp) {
  server_.realtime().refuseConnections(true);
  auto ada = makeImpatientClient();
  auto room = ada->channel("room");
  Inbox<std::string> received;
  auto token = room->onBroadcast("chat", [&](const JSONObject& b) { received.add(text(b)); });
  EXPECT_EQ(subscribeOutcome(*room), "Maximum retry attempts reached.");
  server_.realtime().refuseConnections(false);

  ASSERT_TRUE(eventually([&] { return room->status() == RealtimeChannelStatus::subscribed; }, 60s));
  expectABroadcastArrives(received);
  // A channel the caller removed stays out, whatever the connections after.
  ada->removeChannel(room);
  EXPECT_EQ(ada->status(), RealtimeClientStatus::disconnected);
  std::weak_ptr<RealtimeClientV2> weak = ada;
  ada.reset();
  EXPECT_TRUE(eventually([&] { return weak.expired(); }, 30s));
}

TEST(RealtimeV2AgainstASilentServer, TwoThousandHTTPBroadcastsShareAFewThreads) {
  // Requests wait in its backlog, or for their connection, until their time-out.
  voduzazi::testing::SilentListener server(1);
  auto client = RealtimeClientV2::make(boost::urls::url(server.url() + "/realtime/v1"),
                                       RealtimeClientOptions(HeaderDictionary{{"apikey", "key"}}));
  auto room = client->channel("room");  // never joined: its broadcasts go over HTTP
  // A sanitizer starts a thread of its own with the process's first other thread: not ours.
  std::thread([] {}).join();
  const int idle = threadCount();
  constexpr int broadcasts = 2000;
  for (int n = 0; n < broadcasts; ++n) {
    ASSERT_EQ(room->broadcast("tick", JSONObject{{"n", n}}), PushStatus::ok);
  }
  // A thread per pending broadcast would show at once; give them time to show anyway.
  int peak = 0;
  EXPECT_FALSE(eventually(
      [&] {
        peak = std::max(peak, threadCount());
        return peak > idle + 8;
      },
      2s));
  std::printf("threads: idle client %d, with %d HTTP broadcasts pending %d (+%d)\n", idle,
              broadcasts, peak, peak - idle);
  client.reset();  // drops what waits, cancels what is under way
  EXPECT_TRUE(eventually([&] { return threadCount() <= idle; }));
}

}  // namespace
}  // namespace voduzazi::realtime
