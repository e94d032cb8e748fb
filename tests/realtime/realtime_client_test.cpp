// The older realtime client's socket over a fake transport, with the test clock: its endpoint,
// references, send buffer, heartbeat, reconnects, dispatch, tokens and channel list.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <limits>
#include <mutex>

#include "tests/realtime/thread_count.hpp"
#include "tests/realtime/fake_socket.hpp"
#include "tests/support/checked_list.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/main_executor.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"

namespace voduzazi::realtime {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using testing::frame;
using ::testing::HasSubstr;
using testing::payloadOf;
using testing::reply;
using testing::SocketHarness;
using testing::textAt;
using voduzazi::testing::lastOf;
using CloseStatus = RealtimeClient::CloseStatus;

RealtimeClient::ParamsClosure params(JSONObject given) {
  return [given] { return std::optional<JSONObject>(given); };
}

TEST(RealtimeClientEndpoint, AppendsTheWebsocketPathAndPutsVsnBeforeTheParams) {
  const auto url = [](const std::string& endPoint, JSONObject given) {
    return std::string(RealtimeClient::endpointURL(endPoint, params(given), "2.0.0").buffer());
  };
  EXPECT_EQ(url("https://abcd.example.co/realtime/v1", {{"apikey", "k"}}),
            "https://abcd.example.co/realtime/v1/websocket?vsn=2.0.0&apikey=k");
  EXPECT_EQ(url("http://127.0.0.1:54321/realtime/v1/?vsn=1.0.0&old=1", {}),
            "http://127.0.0.1:54321/realtime/v1/websocket?vsn=2.0.0");
  EXPECT_EQ(url("wss://h.example/socket/websocket", {{"n", 7}, {"b", "x y"}}),
            "wss://h.example/socket/websocket?vsn=2.0.0&b=x%20y&n=7");
  EXPECT_THROW(
      {
        try {
          RealtimeClient::endpointURL("no scheme here", {}, "2.0.0");
        } catch (const std::invalid_argument& error) {
          EXPECT_STREQ(error.what(), "Malformed URL: no scheme here");
          throw;
        }
      },
      std::invalid_argument);
}

TEST(RealtimeClientEndpoint, TakesTheTokenFromAuthorizationElseTheKeyAndKeepsClientInfo) {
  const auto tokenFor = [](std::optional<JSONObject> given) {
    return RealtimeClient::make("https://h.example/realtime/v1", {}, std::move(given))
        ->accessToken();
  };
  EXPECT_EQ(tokenFor(JSONObject{{"Authorization", "Bearer  user-jwt "}, {"apikey", "k"}}),
            "user-jwt");
  EXPECT_EQ(tokenFor(JSONObject{{"Authorization", "   "}, {"apikey", "k"}}), "k");
  EXPECT_EQ(tokenFor(JSONObject{{"Authorization", 12}}), std::nullopt);
  EXPECT_EQ(tokenFor(std::nullopt), std::nullopt);

  auto plain = RealtimeClient::make("https://h.example/realtime/v1", {}, std::nullopt);
  EXPECT_THAT(plain->headers().at("X-Client-Info"), HasSubstr("realtime-cpp/"));
  auto own = RealtimeClient::make("https://h.example/realtime/v1", {{"X-Client-Info", "app/1"}},
                                  std::nullopt);
  EXPECT_EQ(own->headers().at("X-Client-Info"), "app/1");
  EXPECT_EQ(own->websocketProtocol(), "wss");
}

TEST(RealtimeClient, HandsOutDecimalRefsFromOneAndWrapsAfterTheLargest) {
  SocketHarness harness;
  auto client = harness.client();
  EXPECT_EQ(client->makeRef(), "1");
  EXPECT_EQ(client->makeRef(), "2");
  client->setRef(std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(client->makeRef(), "0");
  EXPECT_EQ(client->makeRef(), "1");
}

TEST(RealtimeClient, SendsBufferedFramesInOrderWhenTheConnectionOpens) {
  SocketHarness harness;
  auto client = harness.client();
  client->push("realtime:a", "one", {}, "5");
  client->push("realtime:a", "two", {}, std::nullopt);
  client->push("realtime:a", "three", {{"n", 3}}, "6");
  client->push("realtime:a", "dropped", {}, "5");
  client->removeFromSendBuffer("5");
  EXPECT_EQ(client->sendBufferRefs(), (std::vector<std::string>{"", "6"}));

  client->connect();
  auto& transport = harness.transport();
  EXPECT_EQ(std::string(transport.url().buffer()),
            "https://abcd.example.co/realtime/v1/websocket?vsn=2.0.0&apikey=anon-key");
  EXPECT_THAT(transport.headers().at("X-Client-Info"), HasSubstr("realtime-cpp/"));
  EXPECT_TRUE(transport.sent().empty());
  transport.open();
  EXPECT_THAT(transport.sent(), ElementsAre(R"([null,null,"realtime:a","two",{}])",
                                            R"([null,"6","realtime:a","three",{"n":3}])"));
  EXPECT_TRUE(client->sendBufferRefs().empty());
  // Connected: straight out.
  client->push("phoenix", "heartbeat", {}, "9");
  EXPECT_EQ(lastOf(transport.sent(), "the sent texts"), R"([null,"9","phoenix","heartbeat",{}])");
}

TEST(RealtimeClient, ASecondConnectWhileOpeningKeepsOneWebsocket) {
  SocketHarness harness;
  auto client = harness.client();
  client->connect();
  client->connect();
  EXPECT_EQ(harness.transportCount(), 1u);
  harness.transport().open();
  client->connect();
  EXPECT_EQ(harness.transportCount(), 1u);
  EXPECT_TRUE(client->isConnected());
}

TEST(RealtimeClient, AnUnansweredHeartbeatClosesAbnormallyAndReconnectsWithBackOff) {
  SocketHarness harness;
  auto client = harness.openClient();
  int closes = 0;
  client->onClose([&](const RealtimeClient::CloseReport&) { ++closes; });
  harness.advance(29s);
  EXPECT_TRUE(harness.transport().sent().empty());
  harness.advance(1s);
  ASSERT_EQ(harness.transport().sent().size(), 1u);
  const auto heartbeat = harness.transport().frames().back();
  EXPECT_EQ(textAt(heartbeat, 2), "phoenix");
  EXPECT_EQ(textAt(heartbeat, 3), "heartbeat");

  harness.advance(30s);
  EXPECT_THAT(harness.transport().disconnects(),
              ElementsAre(std::pair<int, std::optional<std::string>>(1000, "heartbeat timeout")));
  EXPECT_EQ(client->closeStatus(), CloseStatus::abnormal);
  harness.transport().closeFromServer(1001);  // stays abnormal: reconnects
  EXPECT_EQ(client->closeStatus(), CloseStatus::abnormal);
  EXPECT_EQ(closes, 1);

  // 10 ms, then 50 ms, then 100 ms while openings keep failing.
  for (auto delay : {10ms, 50ms, 100ms}) {
    const auto before = harness.transportCount();
    harness.advance(delay - 1ms);
    EXPECT_EQ(harness.transportCount(), before);
    harness.advance(1ms);
    ASSERT_EQ(harness.transportCount(), before + 1) << delay.count();
    harness.transport().fail();
  }
  EXPECT_THAT(harness.logs(), ::testing::Contains(HasSubstr("Socket reconnecting in 0.05s")));
  harness.advance(150ms);
  harness.transport().open();
  EXPECT_EQ(client->closeStatus(), CloseStatus::unknown);
  // The attempts start again from 10 ms after a successful open.
  harness.transport().fail();
  const auto before = harness.transportCount();
  harness.advance(10ms);
  EXPECT_EQ(harness.transportCount(), before + 1);
}

TEST(RealtimeClient, AnyMessageWithTheHeartbeatRefAnswersIt) {
  SocketHarness harness;
  auto client = harness.openClient();
  for (int period = 0; period < 3; ++period) {
    harness.advance(30s);
    const auto frames = harness.transport().frames();
    ASSERT_EQ(frames.size(), static_cast<std::size_t>(period + 1));
    const auto& heartbeat = frames.back();
    harness.transport().receive(
        frame(std::nullopt, textAt(heartbeat, 1), "realtime:any", "broadcast", {}));
  }
  EXPECT_TRUE(harness.transport().disconnects().empty());
  EXPECT_EQ(harness.transport().sent().size(), 3u);

  client->setSkipHeartbeat(true);
  harness.transport().closeFromServer(1000);
  client->connect();
  harness.transport().open();
  harness.advance(120s);
  EXPECT_TRUE(harness.transport().sent().empty());
}

TEST(RealtimeClient, CleanClosesAndDisconnectDoNotReconnect) {
  SocketHarness harness;
  auto client = harness.openClient();
  std::vector<std::pair<int, std::optional<std::string>>> closes;
  client->onClose([&](const RealtimeClient::CloseReport& report) {
    closes.emplace_back(report.code, report.reason);
  });
  harness.transport().closeFromServer(1000, "bye");
  EXPECT_EQ(client->closeStatus(), CloseStatus::clean);
  harness.advance(10s);
  EXPECT_EQ(harness.transportCount(), 1u);

  client->connect();
  harness.transport().open();
  bool completed = false;
  client->disconnect(RealtimeClient::CloseCode::normal, std::nullopt, [&] { completed = true; });
  EXPECT_TRUE(completed);
  harness.transport().closeFromServer(1006);  // no longer heard
  harness.advance(10s);
  EXPECT_EQ(harness.transportCount(), 2u);
  EXPECT_EQ(client->closeStatus(), CloseStatus::clean);
  EXPECT_EQ(closes, (std::vector<std::pair<int, std::optional<std::string>>>{
                        {1000, "bye"}, {1000, std::nullopt}}));
}

TEST(RealtimeClient, RoutesFramesByTopicAndDropsOutdatedLifecycleMessages) {
  SocketHarness harness;
  auto client = harness.openClient();
  auto first = client->channel("room");
  auto second = client->channel("room");
  std::vector<std::string> seen;
  for (auto* channel : {&first, &second}) {
    (*channel)->on("broadcast", ChannelFilter{.event = "*"},
                   [&seen, name = channel == &first ? "first" : "second"](const auto& m) {
                     seen.push_back(std::string(name) + " " + m.joinRef.value_or("-"));
                   });
    (*channel)->on("phx_reply", {}, [&seen](const auto& m) { seen.push_back("reply " + m.ref); });
  }
  std::vector<std::string> messages;
  client->onMessage([&](const RealtimeMessage& m) { messages.push_back(m.event); });

  harness.transport().receive(frame("1", "7", "realtime:room", "phx_reply", {}));  // outdated
  harness.transport().receive(frame("1", std::nullopt, "realtime:room", "broadcast", {}));
  harness.transport().receive(frame(std::nullopt, "8", "realtime:room", "phx_reply", {}));
  harness.transport().receive(frame(std::nullopt, std::nullopt, "realtime:other", "x", {}));
  harness.transport().receive(R"({"topic":"realtime:room"})");
  harness.transport().receive(R"([null,"9","realtime:room","broadcast"])");

  EXPECT_THAT(seen, ElementsAre("first 1", "second 1", "reply 8", "reply 8"));
  EXPECT_THAT(messages, ElementsAre("phx_reply", "broadcast", "phx_reply", "x"));
  EXPECT_THAT(harness.logs(), ::testing::Contains(HasSubstr("dropping outdated message")));
  EXPECT_THAT(harness.logs(), ::testing::Contains(HasSubstr("Unable to parse JSON")));
}

TEST(RealtimeClient, SetAuthPutsTheTokenInJoinsAndSendsItToJoinedChannels) {
  SocketHarness harness;
  auto client = harness.openClient();
  auto joined = client->channel("joined");
  auto waiting = client->channel("waiting");
  joined->subscribe();
  const auto join = lastOf(harness.transport().frames(), "the sent frames");
  harness.transport().receive(reply(textAt(join, 1), textAt(join, 1), "realtime:joined", "ok"));
  const auto before = harness.transport().sent().size();

  client->setAuth("user-jwt");
  EXPECT_EQ(client->accessToken(), "user-jwt");
  EXPECT_EQ(*waiting->params().at("user_token").stringValue(), "user-jwt");
  EXPECT_EQ(*waiting->joinPush()->payload().at("user_token").stringValue(), "user-jwt");
  auto frames = harness.transport().frames();
  ASSERT_EQ(frames.size(), before + 1);  // the channel that never joined sends nothing
  EXPECT_EQ(textAt(frames.back(), 3), "access_token");
  EXPECT_EQ(payloadOf(frames.back()), (JSONObject{{"access_token", "user-jwt"}}));

  client->setAuth(std::nullopt);
  EXPECT_EQ(client->accessToken(), std::nullopt);
  EXPECT_EQ(*waiting->params().at("user_token").stringValue(), "user-jwt");
  EXPECT_EQ(payloadOf(lastOf(harness.transport().frames(), "the sent frames")),
            (JSONObject{{"access_token", nullptr}}));
}

TEST(RealtimeClient, LogsFramesWithoutTheTokensTheyCarry) {
  SocketHarness harness;
  auto client = harness.openClient();
  std::vector<std::string> lines;
  client->setLogger([&](const std::string& line) { lines.push_back(line); });
  client->setAuth("first-jwt-secret");
  auto channel = client->channel("room");
  channel->subscribe();
  const auto join = lastOf(harness.transport().frames(), "the sent frames");
  harness.transport().receive(reply(textAt(join, 1), textAt(join, 1), "realtime:room", "ok"));
  client->setAuth("second-jwt-secret");
  harness.transport().receive(
      R"([null,null,"realtime:room","echo",{"access_token":"echoed-secret","n":1}])");

  bool sawJoin = false;
  for (const auto& line : lines) {
    EXPECT_THAT(line, ::testing::Not(HasSubstr("jwt-secret")));
    EXPECT_THAT(line, ::testing::Not(HasSubstr("echoed-secret")));
    if (line.find("phx_join") != std::string::npos) {
      sawJoin = true;
      EXPECT_THAT(line, HasSubstr(R"({"access_token":"<redacted>","config")"));
    }
  }
  EXPECT_TRUE(sawJoin);
  EXPECT_THAT(lastOf(lines, "the log lines"), HasSubstr(R"("access_token":"<redacted>","n":1)"));

  // A reply of an earlier join is dropped, and an error is logged by the channel: both lines
  // show the payload, redacted too.
  lines.clear();
  harness.transport().receive(
      reply("0", "0", "realtime:room", "ok", {{"access_token", "outdated-secret"}}));
  const auto joinRef = channel->joinRef();
  harness.transport().receive(
      frame(joinRef, joinRef, "realtime:room", "phx_error", {{"access_token", "error-secret"}}));
  int dropped = 0;
  int errors = 0;
  for (const auto& line : lines) {
    EXPECT_THAT(line, ::testing::Not(HasSubstr("outdated-secret")));
    EXPECT_THAT(line, ::testing::Not(HasSubstr("error-secret")));
    if (line.find("dropping outdated message") != std::string::npos) {
      ++dropped;
      EXPECT_THAT(line, HasSubstr("<redacted>"));
    }
    if (line.find("error topic") != std::string::npos) {
      ++errors;
      EXPECT_THAT(line, HasSubstr("<redacted>"));
    }
  }
  EXPECT_EQ(dropped, 1);
  EXPECT_EQ(errors, 1);
}

TEST(RealtimeClient, TheHeartbeatsOfManyOpenClientsShareTheTimerQueuesThread) {
  SocketHarness harness;
  std::vector<std::shared_ptr<RealtimeClient>> clients{harness.openClient()};
  harness.advance(30s);  // the first heartbeat: the timer queue's thread is up
  const int idle = voduzazi::testing::threadCount();
  for (int n = 0; n < 100; ++n) clients.push_back(harness.openClient());
  const int busy = voduzazi::testing::threadCount();
  std::printf("threads: one open client %d, 101 open clients %d\n", idle, busy);
  EXPECT_LE(busy, idle + 2);
  harness.advance(30s);
  const auto frames = harness.transport().frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(textAt(frames.front(), 3), "heartbeat");
}

TEST(RealtimeClient, RemovesOnlyTheGivenChannelAndDisconnectsAfterTheLast) {
  SocketHarness harness;
  auto client = harness.openClient();
  auto first = client->channel("a");
  auto second = client->channel("b");  // neither ever joined: both without a join reference
  client->remove(first);
  ASSERT_EQ(client->channels().size(), 1u);
  EXPECT_EQ(client->channels().front(), second);
  EXPECT_TRUE(client->isConnected());
  client->remove(second);
  EXPECT_TRUE(client->channels().empty());
  EXPECT_FALSE(client->isConnected());
  EXPECT_THAT(harness.transport().disconnects(),
              ElementsAre(std::pair<int, std::optional<std::string>>(1000, std::nullopt)));
}

TEST(RealtimeClient, OffDropsRegistrationsByRefAndKeepsTheRestInOrder) {
  SocketHarness harness;
  auto client = harness.client();
  std::vector<int> opened;
  client->onOpen([&](const auto&) { opened.push_back(1); });
  const auto second = client->onOpen([&](const auto&) { opened.push_back(2); });
  client->onOpen([&](const auto&) { opened.push_back(3); });
  client->off({second});
  client->connect();
  harness.transport().open();
  EXPECT_THAT(opened, ElementsAre(1, 3));
  client->releaseCallbacks();
  harness.transport().closeFromServer(1000);
  client->connect();
  harness.transport().open();
  EXPECT_THAT(opened, ElementsAre(1, 3));
}

TEST(RealtimeClient, AReconnectAlreadyPostedWhenTheCallerDisconnectsDoesNothing) {
  SocketHarness harness;
  harness.strand = Strand::serial();  // posted work waits behind the work under way
  auto client = harness.client();
  client->connect();
  harness.transport().open();
  ASSERT_TRUE(voduzazi::testing::eventually([&] { return client->isConnected(); }));
  harness.transport().fail();  // a reconnect is planned 10 ms later
  ASSERT_TRUE(voduzazi::testing::eventually([&] {
    return client->closeStatus() == CloseStatus::abnormal && !client->isConnected();
  }));

  // Work under way on the strand while the reconnect comes due; the caller disconnects then.
  std::mutex mutex;
  std::condition_variable changed;
  bool holding = false;
  bool reconnectPosted = false;
  client->strand()->post([&] {
    std::unique_lock lock(mutex);
    holding = true;
    changed.notify_all();
    changed.wait_for(lock, 10s, [&] { return reconnectPosted; });
    client->disconnect();
  });
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return holding; }));
  }
  ASSERT_EQ(harness.advance(10ms), 1u);  // the reconnect timer posts the reconnect
  {
    std::lock_guard lock(mutex);
    reconnectPosted = true;
  }
  changed.notify_all();
  client->strand()->sync([] {});  // both have had their turn
  harness.advance(10s);
  EXPECT_EQ(harness.transportCount(), 1u);
  EXPECT_EQ(client->closeStatus(), CloseStatus::clean);
}

// Holds the main executor with one job until released, or for 30 s at most; the destructor waits
// for that job to end.
class BusyMainExecutor {
 public:
  BusyMainExecutor() {
    MainExecutor::current()->post([state = state_] {
      std::unique_lock lock(state->mutex);
      state->busy = true;
      state->changed.notify_all();
      state->changed.wait_for(lock, 30s, [&] { return state->released; });
      state->busy = false;
      state->ended = true;
      state->changed.notify_all();
    });
    std::unique_lock lock(state_->mutex);
    state_->changed.wait_for(lock, 10s, [this] { return state_->busy; });
  }
  ~BusyMainExecutor() {
    std::unique_lock lock(state_->mutex);
    state_->released = true;
    state_->changed.notify_all();
    state_->changed.wait_for(lock, 10s, [this] { return state_->ended; });
  }
  bool busy() const {
    std::lock_guard lock(state_->mutex);
    return state_->busy;
  }

 private:
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    bool busy = false;
    bool released = false;
    bool ended = false;
  };
  const std::shared_ptr<State> state_ = std::make_shared<State>();
};

// On the process's own timer queue, clock and main executor, as a caller's client runs.
TEST(RealtimeClientHeartbeat, ABusyMainExecutorDelaysNeitherHeartbeatsNorTheSilentPeerTimeOut) {
  std::shared_ptr<testing::FakeTransport> transport;
  auto client = RealtimeClient::make(
      "https://abcd.example.co/realtime/v1", {}, params({{"apikey", "anon-key"}}),
      std::string(Defaults::vsn), [&transport](const boost::urls::url& url) {
        transport = std::make_shared<testing::FakeTransport>(url);
        return transport;
      });
  client->setHeartbeatInterval(0.2);
  client->connect();
  BusyMainExecutor main;
  ASSERT_TRUE(main.busy());
  // Answered as they go out, a beat every 0.2 s, however late the test itself gets to run.
  transport->answerHeartbeats();
  transport->open();

  const auto heartbeats = [&] {
    std::size_t beats = 0;
    for (const auto& sent : transport->frames()) beats += textAt(sent, 3) == "heartbeat";
    return beats;
  };
  ASSERT_TRUE(voduzazi::testing::eventually([&] { return heartbeats() >= 5; }));
  EXPECT_TRUE(transport->disconnects().empty());
  EXPECT_TRUE(main.busy());
  // Then silent: a later period finds the last beat unanswered.
  transport->answerHeartbeats(false);
  ASSERT_TRUE(voduzazi::testing::eventually([&] { return !transport->disconnects().empty(); }));
  EXPECT_TRUE(main.busy()) << "the time-out came only once the main executor was free";
  EXPECT_THAT(transport->disconnects(),
              ElementsAre(std::pair<int, std::optional<std::string>>(1000, "heartbeat timeout")));
}

}  // namespace
}  // namespace voduzazi::realtime
