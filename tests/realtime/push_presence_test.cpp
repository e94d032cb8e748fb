// Pushes and presence tracking of the older realtime channel, over a fake transport.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

#include "tests/realtime/fake_socket.hpp"
#include "tests/support/checked_list.hpp"
#include "voduzazi/realtime/presence.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"

namespace voduzazi::realtime {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using testing::frame;
using testing::reply;
using testing::SocketHarness;
using testing::textAt;
using voduzazi::testing::lastOf;

// A joined channel "realtime:room" on an open socket.
class JoinedChannel : public ::testing::Test {
 protected:
  JoinedChannel() {
    channel->subscribe();
    answerLast("ok");
  }
  // Answers the last frame sent with a reply of `status`.
  void answerLast(const std::string& status, const JSONObject& response = {}) {
    const auto sent = lastOf(harness.transport().frames(), "the sent frames");
    harness.transport().receive(
        reply(textAt(sent, 0), textAt(sent, 1), "realtime:room", status, response));
  }
  void server(const std::string& event, const JSONObject& payload) {
    harness.transport().receive(
        frame(channel->joinRef(), std::nullopt, "realtime:room", event, payload));
  }

  SocketHarness harness;
  std::shared_ptr<RealtimeClient> client = harness.openClient();
  std::shared_ptr<RealtimeChannel> channel = client->channel("room");
};

using PushTest = JoinedChannel;

TEST_F(PushTest, HooksRunPerStatusInOrderAndLateHooksSeeAnEarlierReply) {
  std::vector<std::string> ran;
  auto push = channel->push("custom", {});
  push->receive(PushStatus::ok, [&](const auto&) { ran.push_back("ok 1"); })
      ->receive(PushStatus::error, [&](const auto&) { ran.push_back("error"); })
      ->receive(PushStatus::ok, [&](const auto& m) { ran.push_back("ok 2 " + m.event); });
  answerLast("ok", {{"n", 1}});
  EXPECT_THAT(ran, ElementsAre("ok 1", "ok 2 chan_reply_" + *push->ref()));
  EXPECT_EQ(push->receivedMessage()->payload(), (JSONObject{{"n", 1}}));
  push->receive(PushStatus::ok, [&](const auto&) { ran.push_back("late ok"); });
  push->receive(PushStatus::error, [&](const auto&) { ran.push_back("late error"); });
  EXPECT_EQ(lastOf(ran, "the callbacks run"), "late ok");
  EXPECT_EQ(ran.size(), 3u);

  // A reply without a known status ends the wait but runs nothing.
  auto odd = channel->push("custom", {});
  odd->receive(PushStatus::ok, [&](const auto&) { ran.push_back("odd"); });
  answerLast("weird");
  EXPECT_TRUE(odd->receivedMessage());
  EXPECT_EQ(ran.size(), 3u);
}

TEST_F(PushTest, ATimedOutPushIsNotSentAgainUntilResent) {
  std::vector<std::string> ran;
  auto push = channel->push("custom", {}, 5.0);
  push->receive(PushStatus::timeout,
                [&](const auto& m) { ran.push_back(AnyJSON(m.rawPayload).description()); });
  const auto firstRef = push->ref();
  harness.advance(5s);
  ASSERT_EQ(ran.size(), 1u);
  EXPECT_TRUE(push->hasReceived(PushStatus::timeout));
  const auto sent = harness.transport().sent().size();
  push->send();
  EXPECT_EQ(harness.transport().sent().size(), sent);

  push->resend(5.0);
  EXPECT_EQ(harness.transport().sent().size(), sent + 1);
  EXPECT_NE(push->ref(), firstRef);
  answerLast("ok");
  harness.advance(10s);  // the answered send's time-out never fires
  EXPECT_EQ(ran.size(), 1u);
}

TEST_F(PushTest, TriggerFeedsAReplyOnlyAfterASend) {
  auto reset = channel->push("custom", {});
  std::vector<JSONObject> oks;
  reset->receive(PushStatus::ok, [&](const auto& m) { oks.push_back(m.rawPayload); });
  reset->reset();
  reset->trigger(PushStatus::ok, {});
  EXPECT_TRUE(oks.empty());
  reset->send();
  reset->trigger(PushStatus::ok, {});
  EXPECT_THAT(oks, ElementsAre(JSONObject{{"status", "ok"}}));
}

TEST_F(PushTest, ABufferedPushTimesOutWithoutAConnection) {
  harness.transport().closeFromServer(1000);
  bool timedOut = false;
  channel->push("custom", {}, 2.0)->receive(PushStatus::timeout, [&](const auto&) {
    timedOut = true;
  });
  harness.advance(2s);
  EXPECT_TRUE(timedOut);
}

using PresenceTest = JoinedChannel;

Presence::Map metas(std::initializer_list<const char*> refs) {
  std::vector<Presence::Meta> list;
  for (const char* ref : refs) list.push_back(Presence::Meta{{"phx_ref", ref}});
  return Presence::Map{{"metas", list}};
}

JSONObject json(const Presence::State& state) { return Presence::toJSON(state); }

std::string refs(const Presence::Map& presence) {
  std::string text;
  for (const auto& meta : presence.at("metas")) text += *meta.at("phx_ref").stringValue();
  return text;
}

TEST(PresenceSync, MergesStatesAndDiffsByMetaReference) {
  std::vector<std::string> calls;
  const Presence::OnJoin onJoin = [&](const std::string& key, const auto& current,
                                      const Presence::Map& joined) {
    calls.push_back("join " + key + " " + (current ? refs(*current) : "-") + " " + refs(joined));
  };
  const Presence::OnLeave onLeave = [&](const std::string& key, const Presence::Map& current,
                                        const Presence::Map& left) {
    calls.push_back("leave " + key + " " + refs(current) + " " + refs(left));
  };
  Presence::State state{{"ada", metas({"A", "B"})}, {"bob", metas({"X"})}};
  state = Presence::syncState(state, {{"ada", metas({"B", "C"})}}, onJoin, onLeave);
  EXPECT_THAT(calls, ElementsAre("join ada AB C", "leave ada BC A", "leave bob  X"));
  EXPECT_EQ(json(state), json({{"ada", metas({"B", "C"})}}));

  calls.clear();
  state = Presence::syncState(state, {{"ada", metas({"B", "C"})}}, onJoin, onLeave);
  EXPECT_TRUE(calls.empty());

  // A join with a ref already present keeps one meta of it; leaves of unknown keys do nothing;
  // a leave matching no meta still reports.
  state = Presence::syncDiff(state,
                             {{"joins", {{"ada", metas({"C"})}}},
                              {"leaves", {{"zed", metas({"Z"})}, {"ada", metas({"Q"})}}}},
                             onJoin, onLeave);
  EXPECT_THAT(calls, ElementsAre("join ada BC C", "leave ada BC Q"));
  EXPECT_EQ(json(state), json({{"ada", metas({"B", "C"})}}));
}

TEST(PresenceSync, ReadsOnlyPayloadsOfTheRightShape) {
  EXPECT_TRUE(Presence::stateFrom(JSONObject{{"ada", JSONObject{{"metas", JSONArray{}}}}}));
  EXPECT_FALSE(Presence::stateFrom(JSONObject{{"ada", JSONArray{}}}));
  EXPECT_FALSE(Presence::stateFrom(JSONObject{{"ada", JSONObject{{"metas", JSONArray{1}}}}}));
  EXPECT_FALSE(Presence::diffFrom(JSONObject{{"joins", "nobody"}}));
  EXPECT_TRUE(Presence::diffFrom(JSONObject{}));
}

TEST_F(PresenceTest, HoldsDiffsUntilTheStateOfTheCurrentJoin) {
  auto presence = channel->presence();
  std::vector<std::string> calls;
  presence->onJoin([&](const std::string& key, const auto&, const auto& joined) {
    calls.push_back("join " + key + " " + refs(joined));
  });
  presence->onLeave(
      [&](const std::string& key, const auto&, const auto&) { calls.push_back("leave " + key); });
  presence->onSync([&] { calls.push_back("sync"); });
  const auto diff = [](const char* key, const char* ref, bool join) {
    return JSONObject{{join ? "joins" : "leaves", Presence::toJSON({{key, metas({ref})}})}};
  };

  server("presence_diff", diff("bob", "B", true));
  EXPECT_TRUE(presence->isPendingSyncState());
  EXPECT_TRUE(calls.empty());
  server("presence_state", Presence::toJSON({{"ada", metas({"A"})}}));
  EXPECT_THAT(calls, ElementsAre("join ada A", "join bob B", "sync"));
  EXPECT_EQ(channel->presenceState(),
            Presence::toJSON({{"ada", metas({"A"})}, {"bob", metas({"B"})}}));

  calls.clear();
  server("presence_diff", diff("ada", "A", false));
  EXPECT_THAT(calls, ElementsAre("leave ada", "sync"));

  // A rejoin takes a new join reference: diffs wait again.
  calls.clear();
  channel->rejoin();
  server("presence_diff", diff("cy", "C", true));
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(presence->pendingDiffs().size(), 1u);
}

TEST_F(PresenceTest, AStateSentAtTheJoinIsKeptEvenWhenPresenceIsFirstReadLater) {
  server("presence_state", Presence::toJSON({{"ada", metas({"A"})}}));
  server("presence_diff", JSONObject{{"joins", Presence::toJSON({{"bob", metas({"B"})}})}});
  EXPECT_EQ(channel->presenceState(),
            Presence::toJSON({{"ada", metas({"A"})}, {"bob", metas({"B"})}}));
}

TEST_F(PresenceTest, TrackAndUntrackSendPresenceEventsAndAwaitTheirReplies) {
  std::future<ChannelResponse> tracked = std::async(std::launch::async, [&] {
    return channel->track({{"online_at", "now"}});
  });
  const auto count = harness.transport().sent().size();
  auto sent = lastOf(harness.transport().frames(count + 1), "the sent frames");
  EXPECT_EQ(testing::payloadOf(sent), (JSONObject{{"type", "presence"},
                                                  {"event", "track"},
                                                  {"payload", JSONObject{{"online_at", "now"}}}}));
  answerLast("ok");
  EXPECT_EQ(tracked.get(), ChannelResponse::ok);

  std::future<ChannelResponse> untracked =
      std::async(std::launch::async, [&] { return channel->untrack(); });
  sent = lastOf(harness.transport().frames(count + 2), "the sent frames");
  EXPECT_EQ(testing::payloadOf(sent), (JSONObject{{"type", "presence"}, {"event", "untrack"}}));
  answerLast("error");
  EXPECT_EQ(untracked.get(), ChannelResponse::error);
}

TEST_F(PresenceTest, ABlockingSendFromACallbackIsRefused) {
  std::optional<std::string> refused;
  channel->on("broadcast", ChannelFilter{.event = "*"}, [&](const auto&) {
    try {
      channel->track({});
    } catch (const std::logic_error& error) {
      refused = error.what();
    }
  });
  server("broadcast", {{"event", "x"}});
  EXPECT_TRUE(refused);
}

TEST(PresenceLists, ListByAndFilterWorkOnAnyState) {
  const Presence::State state{{"ada", metas({"A", "B"})}, {"bob", metas({"X"})}};
  const auto counts =
      Presence::listBy(state, [](const std::string& key, const Presence::Map& presence) {
        return key + ":" + std::to_string(presence.at("metas").size());
      });
  EXPECT_THAT(counts, ElementsAre("ada:2", "bob:1"));
  const auto bobOnly = Presence::filter(
      state, [](const std::string& key, const Presence::Map&) { return key == "bob"; });
  EXPECT_EQ(bobOnly.size(), 1u);
  EXPECT_EQ(Presence::filter(state, nullptr), state);
}

using OlderClientAPITest = JoinedChannel;

TEST_F(OlderClientAPITest, IncomingMessagesPassTheChannelsTransformer) {
  std::vector<std::string> heard;
  channel->on("broadcast", ChannelFilter{.event = "*"}, [&](const RealtimeMessage& m) {
    heard.push_back(*m.payload().at("tag").stringValue());
  });
  channel->onMessage([](const RealtimeMessage& message) {
    RealtimeMessage changed = message;
    changed.rawPayload["tag"] = "seen";
    return changed;
  });
  server("broadcast", {{"event", "x"}, {"tag", "raw"}});
  EXPECT_THAT(heard, ElementsAre("seen"));
  EXPECT_EQ(channel->onMessage()(RealtimeMessage{}).rawPayload.at("tag"), AnyJSON("seen"));
}

TEST_F(OlderClientAPITest, DelegatedCloseAndErrorHandlersSkipAGoneOwner) {
  struct Owner {
    int errors = 0;
  };
  auto owner = std::make_shared<Owner>();
  auto gone = std::make_shared<Owner>();
  channel->delegateOnError(owner, [](Owner& o, const RealtimeMessage&) { ++o.errors; });
  channel->delegateOnError(gone, [](Owner& o, const RealtimeMessage&) { o.errors += 100; });
  gone.reset();
  const auto joinRef = channel->joinRef();
  harness.transport().receive(frame(joinRef, joinRef, "realtime:room", "phx_error", {}));
  EXPECT_EQ(owner->errors, 1);
}

TEST_F(OlderClientAPITest, FramesUseTheReplaceableCodersAndStateCallbacksMayTakeNothing) {
  int opened = 0;
  int closed = 0;
  client->onOpen([&] { ++opened; });
  client->onClose([&] { ++closed; });
  client->setEncode([](const AnyJSON& value) { return Defaults::encode(value) + " "; });
  std::vector<std::string> decoded;
  client->setDecode([&](std::string_view text) {
    decoded.emplace_back(text);
    return Defaults::decode(text);
  });
  channel->push("custom", {{"n", 1}});
  const std::string last = lastOf(harness.transport().sent(), "the sent texts");
  EXPECT_TRUE(last.ends_with(' ')) << last;
  answerLast("ok");
  EXPECT_EQ(decoded.size(), 1u);
  harness.transport().closeFromServer(1000);
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(opened, 0);

  client->setHeartbeatLeeway(std::chrono::milliseconds(50));
  EXPECT_EQ(client->heartbeatLeeway(), std::chrono::milliseconds(50));
  client->setDisableSSLCertValidation(true);
  client->setEnabledSSLCipherSuites(std::vector<std::uint32_t>{0x1301});
  EXPECT_TRUE(client->disableSSLCertValidation());
  EXPECT_EQ(client->enabledSSLCipherSuites(), std::vector<std::uint32_t>{0x1301});
  client->setHeaders({{"X-Client-Info", "app/2"}});
  EXPECT_EQ(client->headers().at("X-Client-Info"), "app/2");
  EXPECT_STREQ(SocketError().what(), "abnormalClosureError");
}

}  // namespace
}  // namespace voduzazi::realtime
