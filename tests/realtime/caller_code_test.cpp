// The older realtime client and its channels when code of the caller's, called from their work,
// releases the client, disconnects it, or disconnects and connects it again: on every line the
// client and its channels log, from the message transformer, from a channel's error handler and
// from a close callback during a reconnect. Released, the client calls nothing of the caller's
// afterwards; disconnected, it connects again only when asked, and then exactly once; a close is
// announced once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/realtime/fake_socket.hpp"
#include "tests/support/checked_list.hpp"
#include "voduzazi/realtime/presence.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"

namespace voduzazi::realtime {
namespace {

using namespace std::chrono_literals;
using ::testing::IsEmpty;
using testing::frame;
using testing::reply;
using testing::SocketHarness;
using testing::textAt;
using voduzazi::testing::lastOf;
using CloseCode = RealtimeClient::CloseCode;
using CloseStatus = RealtimeClient::CloseStatus;

// An open client with two joined channels, "room" then "spare", and code of the caller's of every
// kind attached, each call of it noted: the logger, encoder, decoder, params, transport factory,
// both back-offs, the four callback lists, bindings, message transformers, subscribe callbacks,
// push hooks and presence callbacks. The test keeps the client only weakly; its one reference
// goes in release(), from inside the client's work.
class CallerCode {
 public:
  CallerCode() {
    harness.onCallerCode = [this](const std::string& what) { note(what); };
    auto client = harness.openClient();
    weak = client;
    client->setEncode([this](const AnyJSON& value) {
      note("encoder");
      return Defaults::encode(value);
    });
    client->setDecode([this](std::string_view text) {
      note("decoder");
      return Defaults::decode(text);
    });
    client->setReconnectAfter([this](int) {
      note("reconnect back-off");
      return 0.01;
    });
    client->setRejoinAfter([this](int) {
      note("rejoin back-off");
      return 1.0;
    });
    client->onOpen([this] { note("open callback"); });
    client->onClose([this] {
      note("close callback");
      ++closes;
    });
    client->onError([this](const RealtimeClient::ErrorReport&) { note("error callback"); });
    client->onMessage([this](const RealtimeMessage&) { note("message callback"); });
    room = join(*client, "room");
    spare = join(*client, "spare");
    client->setLogger([this](const std::string& line) {
      note("logger");
      if (trigger_.empty() || !line.starts_with(trigger_)) return;
      trigger_.clear();
      connectionsBefore = harness.transportCount();
      closes = 0;
      act();
    });
    held_ = std::move(client);
  }

  // From the next line that starts with `prefix` on, once.
  void onLine(std::string prefix, std::function<void()> action) {
    trigger_ = std::move(prefix);
    act = std::move(action);
  }
  bool acted() const { return trigger_.empty(); }

  void release() {
    released_ = true;
    held_.reset();
  }
  void note(const std::string& what) {
    if (released_) return late.push_back(what);
    if (onCall) onCall(what);
  }
  std::shared_ptr<RealtimeClient> client() const { return weak.lock(); }
  // Another channel, made without holding the client across what follows: work that the caller
  // starts while holding it would release it only once the caller lets go.
  std::shared_ptr<RealtimeChannel> channel(const std::string& name) const {
    return client()->channel(name);
  }
  // Lets every planned back-off, rejoin and time-out come due.
  void waitOutEveryTimer() {
    for (int round = 0; round < 3; ++round) harness.advance(1min);
  }

  SocketHarness harness;
  std::weak_ptr<RealtimeClient> weak;
  std::shared_ptr<RealtimeChannel> room;
  std::shared_ptr<RealtimeChannel> spare;
  // What every message transformer does besides noting the call; none: hand the message on.
  std::function<void(const RealtimeMessage&)> transform;
  std::function<void()> act;
  // Hears each call of the caller's code before the release.
  std::function<void(const std::string&)> onCall;
  std::vector<std::string> late;
  int closes = 0;
  std::size_t connectionsBefore = 0;

 private:
  std::shared_ptr<RealtimeChannel> join(RealtimeClient& client, const std::string& name) {
    auto channel = client.channel(name);
    channel->on("broadcast", ChannelFilter{.event = "*"},
                [this](const RealtimeMessage&) { note("broadcast handler"); });
    channel->onClose([this](const RealtimeMessage&) { note("close handler"); });
    channel->onError([this](const RealtimeMessage&) { note("error handler"); });
    channel->onMessage([this](const RealtimeMessage& message) {
      note("message transformer");
      if (transform) transform(message);
      return message;
    });
    const auto presence = channel->presence();
    presence->onJoin([this](const std::string&, const auto&, const auto&) {
      note("presence join");
    });
    presence->onLeave([this](const std::string&, const auto&, const auto&) {
      note("presence leave");
    });
    presence->onSync([this] { note("presence sync"); });
    channel->subscribe(std::nullopt, [this](RealtimeSubscribeStates, const auto&) {
      note("subscribe callback");
    });
    const auto ref = channel->joinRef().value_or("");
    harness.transport().receive(reply(ref, ref, channel->topic(), "ok"));
    // A push that stays unanswered: its hooks would hear its time-out.
    channel->push("ping", {}, 10.0)
        ->receive(PushStatus::timeout, [this](const RealtimeMessage&) { note("push hook"); })
        ->receive(PushStatus::ok, [this](const RealtimeMessage&) { note("push hook"); });
    return channel;
  }

  std::string trigger_;
  bool released_ = false;
  std::shared_ptr<RealtimeClient> held_;
};

// A line that the client or one of its channels logs, and how the scene above is led to it.
struct LoggedLine {
  std::string name;
  std::string prefix;
  std::function<void(CallerCode&)> reach;
};

void PrintTo(const LoggedLine& line, std::ostream* out) { *out << line.name; }

std::string joinRefOf(const RealtimeChannel& channel) { return channel.joinRef().value_or(""); }

const LoggedLine loggedLines[] = {
    // The client's lines.
    {"Reconnect", "ZarudIvavaroDureru: Socket attempting to reconnect",
     [](CallerCode& scene) {
       scene.harness.transport().fail();
       scene.harness.advance(10ms);
     }},
    {"ReconnectingIn", "ZarudIvavaroDureru: Socket reconnecting in",
     [](CallerCode& scene) { scene.harness.transport().fail(); }},
    {"Connected", "ZarudIvavaroDureru: transport, Connected to",
     [](CallerCode& scene) {
       scene.harness.transport().fail();
       scene.harness.advance(10ms);
       scene.harness.transport().open();
     }},
    {"Close", "ZarudIvavaroDureru: transport, close",
     [](CallerCode& scene) { scene.harness.transport().fail(); }},
    {"Error", "ZarudIvavaroDureru: transport, refused",
     [](CallerCode& scene) { scene.harness.transport().fail(); }},
    {"UnableToEncode", "ZarudIvavaroDureru: push, Unable to encode",
     [](CallerCode& scene) {
       scene.room->push("x", JSONObject{{"n", std::nan("")}});
     }},
    {"Sending", "ZarudIvavaroDureru: push, Sending",
     [](CallerCode& scene) { scene.room->push("x", {}); }},
    {"HeartbeatTimeout", "ZarudIvavaroDureru: transport, heartbeat timeout",
     [](CallerCode& scene) {
       scene.harness.advance(30s);  // a beat, never answered
       scene.harness.advance(30s);
     }},
    {"Receive", "ZarudIvavaroDureru: receive ",
     [](CallerCode& scene) {
       scene.harness.transport().receive(frame(std::nullopt, std::nullopt, "realtime:room",
                                               "broadcast", {{"event", "x"}}));
     }},
    {"UnableToParse", "ZarudIvavaroDureru: receive: Unable to parse JSON",
     [](CallerCode& scene) { scene.harness.transport().receive("not json"); }},
    // A late answer to the join before a rejoin, with "spare" after "room" in the list.
    {"DroppingOutdated", "ZarudIvavaroDureru: channel, dropping outdated message",
     [](CallerCode& scene) {
       const auto earlier = joinRefOf(*scene.room);
       scene.room->rejoin();
       scene.harness.transport().receive(reply(earlier, earlier, "realtime:room", "ok"));
     }},
    {"LeavingDuplicate", "ZarudIvavaroDureru: transport, leaving duplicate topic",
     [](CallerCode& scene) { scene.channel("room")->subscribe(); }},
    // The channels' lines.
    {"JoinTimeout", "ZarudIvavaroDureru: channel, timeout",
     [](CallerCode& scene) {
       scene.channel("late")->subscribe();
       scene.harness.advance(10s);
     }},
    {"ChannelClose", "ZarudIvavaroDureru: channel, close topic",
     [](CallerCode& scene) {
       const auto ref = joinRefOf(*scene.room);
       scene.harness.transport().receive(frame(ref, ref, "realtime:room", "phx_close", {}));
     }},
    {"ChannelError", "ZarudIvavaroDureru: channel, error topic",
     [](CallerCode& scene) {
       const auto ref = joinRefOf(*scene.room);
       scene.harness.transport().receive(frame(ref, ref, "realtime:room", "phx_error", {}));
     }},
    {"ChannelLeave", "ZarudIvavaroDureru: channel, leave",
     [](CallerCode& scene) {
       const auto ref = joinRefOf(*scene.room);
       scene.room->unsubscribe();
       const auto leave = lastOf(scene.harness.transport().frames(), "the sent frames");
       scene.harness.transport().receive(reply(ref, textAt(leave, 1), "realtime:room", "ok"));
     }},
};

enum class Action { release, disconnect, disconnectAbnormally, disconnectThenConnect };

void PrintTo(Action action, std::ostream* out) {
  switch (action) {
    case Action::release:
      *out << "Release";
      break;
    case Action::disconnect:
      *out << "Disconnect";
      break;
    case Action::disconnectAbnormally:
      *out << "DisconnectAbnormally";
      break;
    case Action::disconnectThenConnect:
      *out << "DisconnectThenConnect";
      break;
  }
}

class RealtimeClientFromTheLogger
    : public ::testing::TestWithParam<std::tuple<LoggedLine, Action>> {
 protected:
  void perform(Action action) {
    if (action == Action::release) return scene.release();
    const auto client = scene.client();
    client->disconnect(action == Action::disconnectAbnormally ? CloseCode::abnormal
                                                              : CloseCode::normal);
    if (action == Action::disconnectThenConnect) client->connect();
  }

  CallerCode scene;
};

// Released, the client calls nothing of the caller's afterwards. Disconnected, it makes no
// connection by itself, keeps the status the disconnect set and announced one close; the next
// connect opens exactly one. Disconnected and connected again, the caller's connection is the
// only one, and it stands once open.
TEST_P(RealtimeClientFromTheLogger, StopsOrStaysDisconnected) {
  const auto& [line, action] = GetParam();
  scene.onLine(line.prefix, [this, action = action] { perform(action); });
  line.reach(scene);
  ASSERT_TRUE(scene.acted()) << "never logged";
  scene.waitOutEveryTimer();
  EXPECT_THAT(scene.late, IsEmpty());
  if (action == Action::release) return;

  auto& harness = scene.harness;
  const auto client = scene.client();
  ASSERT_NE(client, nullptr);
  EXPECT_EQ(scene.closes, 1);
  if (action == Action::disconnectThenConnect) {
    ASSERT_EQ(harness.transportCount(), scene.connectionsBefore + 1);
    EXPECT_THAT(harness.transport().disconnects(), IsEmpty());
    EXPECT_THAT(harness.transport().sent(), IsEmpty()) << "sent before it opened";
    harness.transport().open();
    EXPECT_TRUE(client->isConnected());
    return;
  }
  EXPECT_EQ(harness.transportCount(), scene.connectionsBefore);
  EXPECT_EQ(client->closeStatus(), action == Action::disconnect ? CloseStatus::clean
                                                                : CloseStatus::abnormal);
  client->connect();
  ASSERT_EQ(harness.transportCount(), scene.connectionsBefore + 1);
  harness.transport().open();
  EXPECT_TRUE(client->isConnected());
}

INSTANTIATE_TEST_SUITE_P(EveryLineThatWorkFollows, RealtimeClientFromTheLogger,
                         ::testing::Combine(::testing::ValuesIn(loggedLines),
                                            ::testing::Values(Action::release, Action::disconnect,
                                                              Action::disconnectAbnormally,
                                                              Action::disconnectThenConnect)),
                         [](const auto& info) {
                           std::ostringstream name;
                           PrintTo(std::get<1>(info.param), &name);
                           return std::get<0>(info.param).name + name.str();
                         });

// A channel made on the line that drops an outdated message joins the list the line's loop walks.
TEST(RealtimeClientFromTheLoggerToo, AChannelMadeWhileOutdatedMessagesAreDroppedJoinsTheList) {
  CallerCode scene;
  scene.onLine("ZarudIvavaroDureru: channel, dropping outdated message",
               [&scene] { scene.client()->channel("more"); });
  const auto earlier = joinRefOf(*scene.room);
  scene.room->rejoin();
  scene.harness.transport().receive(reply(earlier, earlier, "realtime:room", "ok"));
  ASSERT_TRUE(scene.acted());
  EXPECT_EQ(scene.client()->channels().size(), 3u);
}

// A disconnect and connect from the line of a buffered send, as the connection opens, leave that
// send and the ones after it buffered: they go out in order once the caller's connection opens.
TEST(RealtimeClientFromTheLoggerToo, SendsOvertakenOnTheWayWaitForTheCallersConnection) {
  CallerCode scene;
  auto& harness = scene.harness;
  const auto client = scene.client();
  client->disconnect();
  client->push("realtime:room", "first", {});
  client->push("realtime:room", "second", {});
  scene.onLine("ZarudIvavaroDureru: push, Sending", [client] {
    client->disconnect();
    client->connect();
  });
  client->connect();
  harness.transport().open();
  ASSERT_TRUE(scene.acted());
  EXPECT_THAT(harness.transport().sent(), IsEmpty()) << "sent before it opened";
  harness.transport().open();
  const auto sent = harness.transport().frames();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(textAt(sent[0], 3), "first");
  EXPECT_EQ(textAt(sent[1], 3), "second");
}

// The message transformer and a channel's error handler release the client on the messages that
// reach them; nothing of the caller's follows.
TEST(RealtimeClientFromItsChannels, ReleasedByATransformerOrAnErrorHandlerCallsNothingMore) {
  const auto broadcast = [](CallerCode& scene) {
    scene.harness.transport().receive(
        frame(std::nullopt, std::nullopt, "realtime:room", "broadcast", {{"event", "x"}}));
  };
  const auto serverClose = [](CallerCode& scene) {
    const auto ref = joinRefOf(*scene.room);
    scene.harness.transport().receive(frame(ref, ref, "realtime:room", "phx_close", {}));
  };
  const auto leave = [](CallerCode& scene) {
    const auto ref = joinRefOf(*scene.room);
    scene.room->unsubscribe();
    const auto sent = lastOf(scene.harness.transport().frames(), "the sent frames");
    scene.harness.transport().receive(reply(ref, textAt(sent, 1), "realtime:room", "ok"));
  };
  const std::vector<std::pair<std::string, std::function<void(CallerCode&)>>> roads{
      {"broadcast", broadcast}, {"server close", serverClose}, {"leave", leave}};
  for (const auto& [name, road] : roads) {
    SCOPED_TRACE("transformer, " + name);
    CallerCode scene;
    scene.transform = [&scene](const RealtimeMessage&) { scene.release(); };
    road(scene);
    scene.waitOutEveryTimer();
    EXPECT_THAT(scene.late, IsEmpty());
  }
  SCOPED_TRACE("error handler, lost connection");
  CallerCode scene;
  scene.room->onError([&scene](const RealtimeMessage&) { scene.release(); });
  scene.harness.transport().fail();
  scene.waitOutEveryTimer();
  EXPECT_THAT(scene.late, IsEmpty());
}

// A broadcast over HTTP reads the socket's params first: a params closure that releases the client
// leaves the caller's HTTP client uncalled.
TEST(RealtimeClientFromItsCallbacks, AParamsClosureThatReleasesItEndsAnHTTPBroadcast) {
  CallerCode scene;
  const auto lone = scene.channel("lone");  // never joined: its broadcasts go over HTTP
  scene.onCall = [&scene](const std::string& what) {
    if (what == "params") scene.release();
  };
  EXPECT_EQ(lone->send(RealtimeListenTypes::broadcast, "x", {}), ChannelResponse::error);
  EXPECT_THAT(scene.harness.http->requests(), IsEmpty());
  EXPECT_THAT(scene.late, IsEmpty());
}

// The reconnect tears the old connection down and tells the close callbacks before it connects:
// a disconnect from one of them stands.
TEST(RealtimeClientFromItsCallbacks, ADisconnectFromACloseCallbackDuringTheReconnectStands) {
  CallerCode scene;
  auto& harness = scene.harness;
  bool disconnected = false;
  scene.client()->onClose([&](const RealtimeClient::CloseReport& report) {
    if (report.reason != "reconnection" || disconnected) return;
    disconnected = true;
    scene.client()->disconnect();
  });
  harness.transport().fail();
  const auto connections = harness.transportCount();
  harness.advance(10ms);
  ASSERT_TRUE(disconnected);
  scene.waitOutEveryTimer();
  EXPECT_EQ(harness.transportCount(), connections);
  EXPECT_EQ(scene.client()->closeStatus(), CloseStatus::clean);
  scene.client()->connect();
  EXPECT_EQ(harness.transportCount(), connections + 1);
}

}  // namespace
}  // namespace voduzazi::realtime
