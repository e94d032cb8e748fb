// The stand-in realtime server as a client sees it: channel joins, broadcast, presence, row
// changes under the access rules, the HTTP broadcast, and what it does with bad input.
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "local_backend/token_authority.hpp"
#include "tests/local_backend/test_client.hpp"
#include "tests/realtime/realtime_backend.hpp"

namespace voduzazi::realtime {
namespace {

namespace json = boost::json;
using voduzazi::testing::EventRecorder;
using voduzazi::testing::realtimeURL;

bool is(const json::value& value, std::string_view text) {
  return value.is_string() && value.as_string() == text;
}

// One connection speaking object frames, with helpers for the frames the tests send.
class Peer {
 public:
  explicit Peer(const local_backend::Server& server, std::string_view vsn = "1.0.0")
      : socket_(URLSessionWebSocket::connect(realtimeURL(server, vsn))), events_(*socket_) {}

  // Sends a frame and returns the reply to it (an empty object on timeout).
  json::object request(std::string topic, std::string event, json::object payload = {}) {
    const std::string ref = std::to_string(++ref_);
    send(topic, event, std::move(payload), ref);
    return waitFor([&](const json::object& frame) {
      return frame.at("event") == "phx_reply" && frame.at("ref") == json::value(ref);
    });
  }

  void send(std::string topic, std::string event, json::object payload, std::string ref = {}) {
    json::object frame{{"topic", topic}, {"event", event}, {"payload", std::move(payload)}};
    if (!ref.empty()) frame["ref"] = ref;
    if (!ref.empty()) frame["join_ref"] = ref;
    socket_->send(json::serialize(frame));
  }

  json::object join(std::string topic, json::object config = {}, std::string token = {}) {
    json::object payload{{"config", std::move(config)}};
    if (!token.empty()) payload["access_token"] = token;
    return request(std::move(topic), "phx_join", std::move(payload));
  }

  json::object waitFor(const std::function<bool(const json::object&)>& match) {
    return events_.waitForFrame(match);
  }

  json::object waitForEvent(std::string_view event, std::string_view topic = {}) {
    return waitFor([&](const json::object& frame) {
      return is(frame.at("event"), event) && (topic.empty() || is(frame.at("topic"), topic));
    });
  }

  std::size_t countEvents(std::string_view event) const {
    std::size_t count = 0;
    for (const auto& frame : events_.frames()) count += is(frame.at("event"), event) ? 1 : 0;
    return count;
  }

  URLSessionWebSocket& socket() { return *socket_; }
  EventRecorder& events() { return events_; }

 private:
  std::shared_ptr<URLSessionWebSocket> socket_;
  EventRecorder events_;
  int ref_ = 0;
};

std::string status(const json::object& reply) {
  if (reply.empty()) return "no reply";
  return std::string(reply.at("payload").at("status").as_string());
}

class RealtimeServerTest : public local_backend::testing::BackendTest {
 protected:
  explicit RealtimeServerTest(local_backend::ServerOptions options = {})
      : BackendTest(std::move(options)) {}
};

TEST_F(RealtimeServerTest, AnswersHeartbeatsInBothFrameForms) {
  Peer objects(server_);
  EXPECT_EQ(status(objects.request("phoenix", "heartbeat")), "ok");

  auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "2.0.0"));
  EventRecorder events(*socket);
  socket->send(R"([null,"9","phoenix","heartbeat",{}])");
  ASSERT_TRUE(events.waitFor([](const auto& all) { return !all.empty(); }));
  EXPECT_EQ(
      events.events().front(),
      WebSocketEvent::text(R"([null,"9","phoenix","phx_reply",{"status":"ok","response":{}}])"));
}

TEST_F(RealtimeServerTest, JoinConfirmsEachPostgresBindingWithItsOwnId) {
  Peer peer(server_);
  const json::object config{
      {"postgres_changes",
       json::array{json::object{{"event", "INSERT"}, {"schema", "public"}, {"table", "messages"}},
                   json::object{{"event", "*"}, {"schema", "public"}, {"table", "friends"}}}}};
  auto reply = peer.join("realtime:db", config);
  ASSERT_EQ(status(reply), "ok");
  const auto& confirmed = reply.at("payload").at("response").at("postgres_changes").as_array();
  ASSERT_EQ(confirmed.size(), 2u);
  EXPECT_EQ(confirmed[0].at("table"), "messages");
  EXPECT_NE(confirmed[0].at("id"), confirmed[1].at("id"));
  auto system = peer.waitForEvent("system");
  EXPECT_EQ(system.at("payload").at("extension"), "postgres_changes");
  EXPECT_EQ(system.at("join_ref"), reply.at("ref"));

  auto unknownTable = peer.join(
      "realtime:other",
      json::object{{"postgres_changes", json::array{json::object{{"table", "no_such_table"}}}}});
  EXPECT_EQ(status(unknownTable), "error");
}

TEST_F(RealtimeServerTest, BroadcastsReachOthersAndTheSenderOnlyWhenAsked) {
  Peer quiet(server_);
  Peer loud(server_);
  Peer listener(server_);
  ASSERT_EQ(status(quiet.join("realtime:room")), "ok");
  ASSERT_EQ(
      status(loud.join("realtime:room",
                       json::object{{"broadcast", json::object{{"self", true}, {"ack", true}}}})),
      "ok");
  ASSERT_EQ(status(listener.join("realtime:room")), "ok");

  quiet.send("realtime:room", "broadcast",
             json::object{{"type", "broadcast"}, {"event", "wave"}, {"payload", {{"n", 1}}}});
  auto got = listener.waitForEvent("broadcast");
  EXPECT_EQ(got.at("payload").at("payload").at("n"), 1);
  EXPECT_EQ(loud.waitForEvent("broadcast").at("payload").at("event"), "wave");

  // With "ack" the sender gets a reply; with "self" its own message too.
  auto ack = loud.request("realtime:room", "broadcast",
                          json::object{{"type", "broadcast"}, {"event", "cheer"}});
  EXPECT_EQ(status(ack), "ok");
  ASSERT_FALSE(loud.waitFor([](const auto& f) {
                     return f.at("event") == "broadcast" && f.at("payload").at("event") == "cheer";
                   })
                   .empty());
  // The quiet sender saw the loud one's message but never its own.
  quiet.waitFor([](const auto& f) {
    return f.at("event") == "broadcast" && f.at("payload").at("event") == "cheer";
  });
  EXPECT_EQ(quiet.countEvents("broadcast"), 1u);
}

TEST_F(RealtimeServerTest, PresenceSendsDiffsToAllAndStateToLaterJoiners) {
  Peer first(server_);
  ASSERT_EQ(status(first.join("realtime:lobby",
                              json::object{{"presence", json::object{{"key", "ada"}}}})),
            "ok");
  EXPECT_EQ(status(first.request(
                "realtime:lobby", "presence",
                json::object{
                    {"type", "presence"}, {"event", "track"}, {"payload", {{"mood", "happy"}}}})),
            "ok");
  auto diff = first.waitForEvent("presence_diff");
  EXPECT_EQ(diff.at("payload").at("joins").at("ada").at("metas").at(0).at("mood"), "happy");

  Peer second(server_);
  ASSERT_EQ(status(second.join("realtime:lobby")), "ok");
  auto state = second.waitForEvent("presence_state");
  EXPECT_EQ(state.at("payload").at("ada").at("metas").at(0).at("mood"), "happy");

  first.socket().close(1000, std::nullopt);  // leaving by disconnecting
  auto leave = second.waitFor([](const auto& f) {
    return f.at("event") == "presence_diff" && !f.at("payload").at("leaves").as_object().empty();
  });
  EXPECT_TRUE(leave.at("payload").at("leaves").as_object().contains("ada"));
}

TEST_F(RealtimeServerTest, LeavingRepliesThenClosesTheChannel) {
  Peer peer(server_);
  auto joined = peer.join("realtime:room");
  ASSERT_EQ(status(joined), "ok");
  EXPECT_EQ(status(peer.request("realtime:room", "phx_leave")), "ok");
  auto closed = peer.waitForEvent("phx_close");
  EXPECT_EQ(closed.at("join_ref"), joined.at("ref"));
  // The ref slot too, where a client's lifecycle check looks for its join.
  EXPECT_EQ(closed.at("ref"), joined.at("ref"));
  // No longer joined: a broadcast on it is refused.
  auto refused = peer.request("realtime:room", "broadcast", json::object{{"event", "x"}});
  EXPECT_EQ(refused.at("payload").at("response").at("reason"), "unmatched topic");
}

TEST_F(RealtimeServerTest, RowChangesFollowTheFilterAndTheAccessRules) {
  const auto ada = signUp("ada");
  const auto bob = signUp("bob");
  const auto messages = [](std::string filter) {
    json::object binding{{"event", "INSERT"}, {"schema", "public"}, {"table", "messages"}};
    if (!filter.empty()) binding["filter"] = filter;
    return json::object{{"postgres_changes", json::array{binding}}};
  };
  Peer adaInbox(server_);
  Peer anonymous(server_);
  ASSERT_EQ(status(adaInbox.join("realtime:inbox", messages("receiver_id=eq." + ada.id),
                                 ada.accessToken)),
            "ok");
  ASSERT_EQ(status(anonymous.join("realtime:inbox", messages(""))), "ok");

  auto send = [&](const local_backend::testing::TestUser& from, const std::string& to,
                  const std::string& text) {
    const auto result = post("/rest/v1/messages",
                             R"({"sender_id":")" + from.id + R"(","receiver_id":")" + to +
                                 R"(","content":")" + text + R"("})",
                             from.accessToken);
    EXPECT_EQ(result.status, 201) << result.body;
  };
  send(bob, ada.id, "for ada");
  send(ada, bob.id, "for bob");
  auto change = adaInbox.waitForEvent("postgres_changes");
  const auto& data = change.at("payload").at("data");
  EXPECT_EQ(data.at("type"), "INSERT");
  EXPECT_EQ(data.at("table"), "messages");
  EXPECT_EQ(data.at("record").at("content"), "for ada");
  EXPECT_TRUE(data.as_object().contains("commit_timestamp"));
  EXPECT_FALSE(data.at("columns").as_array().empty());

  // A later broadcast comes after any row change queued before it on each socket.
  const auto marker = post("/realtime/v1/api/broadcast",
                           R"({"messages":[{"topic":"inbox","event":"marker","payload":{}}]})");
  EXPECT_EQ(marker.status, 202);
  adaInbox.waitForEvent("broadcast");
  anonymous.waitForEvent("broadcast");
  EXPECT_EQ(adaInbox.countEvents("postgres_changes"), 1u);   // not bob's message
  EXPECT_EQ(anonymous.countEvents("postgres_changes"), 0u);  // the anonymous key reads nothing
}

TEST_F(RealtimeServerTest, TheHttpBroadcastReachesJoinedChannels) {
  Peer peer(server_);
  ASSERT_EQ(status(peer.join("realtime:news")), "ok");
  const auto result = post("/realtime/v1/api/broadcast",
                           R"({"messages":[{"topic":"news","event":"flash","payload":{"a":1}}]})");
  EXPECT_EQ(result.status, 202);
  auto got = peer.waitForEvent("broadcast", "realtime:news");
  EXPECT_EQ(got.at("payload"),
            json::parse(R"({"type":"broadcast","event":"flash","payload":{"a":1}})"));
  // One message may also come as the object itself.
  EXPECT_EQ(post("/realtime/v1/api/broadcast",
                 R"({"messages":{"topic":"news","event":"flash","payload":{"a":2}}})")
                .status,
            202);
  EXPECT_FALSE(peer.waitFor([](const json::object& frame) {
                    const auto* payload = frame.if_contains("payload");
                    return payload && payload->as_object().contains("payload") &&
                           payload->at("payload") == json::parse(R"({"a":2})");
                  })
                   .empty());
  EXPECT_EQ(post("/realtime/v1/api/broadcast", R"({"messages":[{"event":"x"}]})").status, 400);
  EXPECT_EQ(post("/realtime/v1/api/broadcast", "not json").status, 400);
}

TEST_F(RealtimeServerTest, TokensOfAnotherSecretAreRefused) {
  const local_backend::TokenAuthority stranger("another-secret", std::chrono::seconds(3600));
  Peer peer(server_);
  auto reply = peer.join("realtime:room", {}, stranger.serviceKey());
  EXPECT_EQ(status(reply), "error");

  const auto ada = signUp("ada");
  ASSERT_EQ(status(peer.join("realtime:mine", {}, ada.accessToken)), "ok");
  peer.send("realtime:mine", "access_token", json::object{{"access_token", stranger.anonKey()}},
            "99");
  auto system = peer.waitFor([](const auto& f) {
    return f.at("event") == "system" && f.at("payload").at("status") == "error";
  });
  EXPECT_EQ(system.at("topic"), "realtime:mine");
  EXPECT_FALSE(peer.waitForEvent("phx_close", "realtime:mine").empty());
}

class ShortTokenTest : public RealtimeServerTest {
 protected:
  ShortTokenTest() : RealtimeServerTest(shortTokens()) {}
  static local_backend::ServerOptions shortTokens() {
    local_backend::ServerOptions options;
    options.jwtExpiry = std::chrono::seconds(2);
    return options;
  }
};

TEST_F(ShortTokenTest, ATokenThatExpiresEndsItsChannel) {
  const auto ada = signUp("ada");
  Peer peer(server_);
  ASSERT_EQ(status(peer.join("realtime:mine", {}, ada.accessToken)), "ok");
  // Every frame checks the channel's token; heartbeat until the expiry shows.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool ended = false;
  while (!ended && std::chrono::steady_clock::now() < deadline) {
    peer.request("phoenix", "heartbeat");
    ended = peer.countEvents("phx_close") > 0;
  }
  ASSERT_TRUE(ended);
  auto system = peer.waitForEvent("system");
  EXPECT_EQ(system.at("payload").at("message"), "Token has expired");
}

TEST_F(RealtimeServerTest, MalformedFramesCloseTheSocketWith1007) {
  for (const char* frame : {"{not json", R"(["a","b"])", R"({"topic":1,"event":"x","payload":{}})",
                            R"({"topic":"t","event":"x","payload":null})"}) {
    Peer peer(server_);
    peer.socket().send(frame);
    auto close = peer.events().waitForClose();
    ASSERT_TRUE(close) << frame;
    EXPECT_EQ(close->code, 1007) << frame;
  }
}

TEST_F(RealtimeServerTest, UnknownEventsGetAnErrorReplyAndTheSocketStays) {
  Peer peer(server_);
  ASSERT_EQ(status(peer.join("realtime:room")), "ok");
  auto reply = peer.request("realtime:room", "shout");
  EXPECT_EQ(status(reply), "error");
  EXPECT_EQ(status(peer.request("phoenix", "heartbeat")), "ok");
  EXPECT_FALSE(peer.socket().isClosed());
}

TEST_F(RealtimeServerTest, OversizeAndBinaryFramesCloseWithTheirCodes) {
  Peer big(server_);
  big.socket().send(std::string(2 * 1024 * 1024, ' '));
  auto close = big.events().waitForClose();
  ASSERT_TRUE(close);
  EXPECT_EQ(close->code, 1009);

  Peer bystander(server_);
  std::mutex mutex;
  std::condition_variable changed;
  std::optional<int> code;
  WebSocketTaskDelegate delegate;
  delegate.didClose = [&](int closeCode, const std::optional<Data>&) {
    std::lock_guard lock(mutex);
    code = closeCode;
    changed.notify_all();
  };
  URLRequest request;
  request.url = realtimeURL(server_, "1.0.0");
  auto task = WebSocketTask::make(request, {}, {}, std::move(delegate));
  task->resume();
  task->send({WebSocketMessage::Kind::binary, "\x01\x02"});
  ASSERT_TRUE(voduzazi::testing::waitUntil(mutex, changed, [&] { return code.has_value(); }));
  EXPECT_EQ(code, 1003);
  EXPECT_EQ(status(bystander.request("phoenix", "heartbeat")), "ok");
}

TEST_F(RealtimeServerTest, AFloodOfJoinsIsCappedWithoutDisturbingOthers) {
  Peer flood(server_);
  Peer bystander(server_);
  const std::size_t limit = server_.realtime().hub().limits().maxChannelsPerSocket;
  for (std::size_t i = 0; i < limit; ++i) {
    flood.send("realtime:c" + std::to_string(i), "phx_join", {}, std::to_string(i + 1000));
  }
  auto refused = flood.join("realtime:one-too-many");
  EXPECT_EQ(status(refused), "error");
  EXPECT_EQ(refused.at("payload").at("response").at("reason"),
            "Too many channels on this connection");
  EXPECT_EQ(status(bystander.request("phoenix", "heartbeat")), "ok");
  EXPECT_EQ(status(flood.request("phoenix", "heartbeat")), "ok");
}

TEST_F(RealtimeServerTest, TwoHundredSocketsEachJoinAndReceiveOneBroadcast) {
  constexpr int kSockets = 200;
  std::vector<std::unique_ptr<Peer>> peers;
  for (int i = 0; i < kSockets; ++i) {
    peers.push_back(std::make_unique<Peer>(server_, i % 2 == 0 ? "1.0.0" : "2.0.0"));
  }
  for (int i = 0; i < kSockets; ++i) {
    if (i % 2 == 0) {
      ASSERT_EQ(status(peers[i]->join("realtime:crowd")), "ok") << i;
    } else {
      peers[i]->socket().send(R"(["1","1","realtime:crowd","phx_join",{}])");
      ASSERT_TRUE(peers[i]->events().waitFor([](const auto& all) { return !all.empty(); })) << i;
    }
  }
  const auto result = post("/realtime/v1/api/broadcast",
                           R"({"messages":[{"topic":"crowd","event":"hello","payload":{}}]})");
  ASSERT_EQ(result.status, 202);
  for (int i = 0; i < kSockets; ++i) {
    ASSERT_TRUE(peers[i]->events().waitFor([](const auto& all) {
      for (const auto& event : all) {
        const auto* text = std::get_if<WebSocketEvent::Text>(&event.kind);
        if (text != nullptr && text->text.find("\"hello\"") != std::string::npos) return true;
      }
      return false;
    })) << "socket "
        << i << " missed the broadcast";
  }
}

}  // namespace
}  // namespace voduzazi::realtime
