// The older realtime channel over a fake transport and the test clock: joining and rejoining,
// buffered pushes, routing, the server's postgres binding ids, and send over the socket or HTTP.
#include "voduzazi/realtime/realtime_channel.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

#include "tests/realtime/fake_socket.hpp"
#include "tests/support/checked_list.hpp"

namespace voduzazi::realtime {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using testing::frame;
using testing::nameOf;
using testing::payloadOf;
using testing::reply;
using testing::SocketHarness;
using testing::textAt;
using voduzazi::testing::firstOf;
using voduzazi::testing::lastOf;
using States = std::vector<std::string>;

class RealtimeChannelTest : public ::testing::Test {
 protected:
  // Subscribes, recording each report as "state" or "state: error text".
  void subscribe(const std::shared_ptr<RealtimeChannel>& channel) {
    channel->subscribe(
        std::nullopt, [this](RealtimeSubscribeStates state, const std::optional<RealtimeError>& e) {
          reports.push_back(nameOf(state) + (e ? ": " + std::string(e->what()) : ""));
        });
  }
  // The last frame the client sent, which must carry `event`.
  JSONArray lastSent(const std::string& event) {
    const auto last = lastOf(harness.transport().frames(), "the sent frames");
    EXPECT_EQ(textAt(last, 3), event);
    return last;
  }
  // Answers the last join with `status` and the response.
  void answerJoin(const std::string& status, const JSONObject& response = {}) {
    const auto join = lastSent("phx_join");
    harness.transport().receive(
        reply(textAt(join, 0), textAt(join, 1), textAt(join, 2), status, response));
  }

  SocketHarness harness;
  std::shared_ptr<RealtimeClient> client = harness.client();
  States reports;
};

TEST_F(RealtimeChannelTest, SubscribeConnectsJoinsWithTheConfigAndFlushesBufferedPushes) {
  client->setAuth("anon-key");
  auto channel = client->channel("room", {.presenceKey = std::nullopt, .broadcastSelf = true});
  channel->on("postgres_changes", ChannelFilter{.event = "INSERT", .schema = "public"},
              [](const auto&) {});
  EXPECT_EQ(channel->subTopic(), "room");
  subscribe(channel);
  EXPECT_EQ(channel->state(), ChannelState::joining);
  auto early = channel->push("custom", {{"n", 1}});
  harness.transport().open();

  const auto join = firstOf(harness.transport().frames(), "the sent frames");
  EXPECT_EQ(textAt(join, 0), textAt(join, 1));  // the join reference is its own reference
  EXPECT_EQ(textAt(join, 2), "realtime:room");
  const JSONObject config{
      {"postgres_changes", JSONArray{JSONObject{{"event", "INSERT"}, {"schema", "public"}}}},
      {"broadcast", JSONObject{{"ack", false}, {"self", true}}},
      {"presence", JSONObject{{"key", ""}}}};
  // The token came before the channel: it rides in the join, not in the params.
  EXPECT_EQ(payloadOf(join), (JSONObject{{"config", config}, {"access_token", "anon-key"}}));
  EXPECT_EQ(harness.transport().sent().size(), 1u);

  answerJoin("ok", {{"postgres_changes",
                     JSONArray{JSONObject{{"event", "INSERT"}, {"schema", "public"}, {"id", 7}}}}});
  EXPECT_EQ(channel->state(), ChannelState::joined);
  EXPECT_THAT(reports, ElementsAre("subscribed"));
  const auto frames = harness.transport().frames();
  // The buffered push, then the token the join-ok hands on.
  EXPECT_EQ(textAt(frames.at(1), 3), "custom");
  EXPECT_EQ(textAt(frames.at(1), 1), *early->ref());
  EXPECT_EQ(textAt(frames.at(2), 3), "access_token");
  EXPECT_EQ(firstOf(channel->bindings().at("postgres_changes"), "the bindings").id, "7");
  EXPECT_THROW(channel->subscribe(), std::logic_error);
}

TEST_F(RealtimeChannelTest, PushBeforeSubscribeIsRefused) {
  auto channel = client->channel("room");
  try {
    channel->push("custom", {});
    FAIL();
  } catch (const std::logic_error& error) {
    EXPECT_STREQ(error.what(),
                 "Tried to push custom to realtime:room before joining. Use channel.join() before "
                 "pushing events");
  }
}

TEST_F(RealtimeChannelTest, AJoinErrorRejoinsOnTheBackOffWhileConnected) {
  client->connect();
  harness.transport().open();
  auto channel = client->channel("room");
  subscribe(channel);
  answerJoin("error", {{"reason", "nope"}});
  EXPECT_EQ(channel->state(), ChannelState::errored);
  EXPECT_THAT(reports, ElementsAre("channelError: nope "));
  const auto sent = harness.transport().sent().size();
  harness.advance(999ms);
  EXPECT_EQ(harness.transport().sent().size(), sent);
  harness.advance(1ms);  // the first rejoin after 1 s
  const auto rejoin = lastSent("phx_join");
  EXPECT_EQ(channel->state(), ChannelState::joining);
  EXPECT_EQ(channel->joinRef(), textAt(rejoin, 1));
  answerJoin("error");
  harness.advance(2s);  // then 2 s
  answerJoin("ok");
  EXPECT_EQ(channel->state(), ChannelState::joined);
  EXPECT_THAT(reports, ElementsAre("channelError: nope ", "channelError: error", "subscribed"));
}

TEST_F(RealtimeChannelTest, AJoinTimeoutLeavesAndRetries) {
  client->connect();
  harness.transport().open();
  auto channel = client->channel("room");
  subscribe(channel);
  harness.advance(10s);
  EXPECT_EQ(channel->state(), ChannelState::errored);
  EXPECT_THAT(reports, ElementsAre("timedOut"));
  lastSent("phx_leave");
  EXPECT_EQ(channel->joinRef(), std::nullopt);
  EXPECT_THAT(harness.logs(), ::testing::Contains(::testing::HasSubstr("after 10.0s")));
  harness.advance(1s);
  lastSent("phx_join");
  answerJoin("ok");
  EXPECT_EQ(channel->state(), ChannelState::joined);
}

TEST_F(RealtimeChannelTest, ALostConnectionErrorsJoinedChannelsWhichRejoinOnReopen) {
  client->connect();
  harness.transport().open();
  auto channel = client->channel("room");
  subscribe(channel);
  answerJoin("ok");
  const auto firstJoinRef = channel->joinRef();
  harness.transport().fail();
  EXPECT_EQ(channel->state(), ChannelState::errored);
  EXPECT_THAT(reports, ElementsAre("subscribed", "channelError: error"));
  harness.advance(10ms);  // the socket reconnects
  harness.transport().open();
  EXPECT_EQ(channel->state(), ChannelState::joining);
  EXPECT_NE(channel->joinRef(), firstJoinRef);
  answerJoin("ok");
  EXPECT_EQ(channel->state(), ChannelState::joined);
  // The rejoin timer was cancelled by the open: no second join.
  const auto sent = harness.transport().sent().size();
  harness.advance(5s);
  EXPECT_EQ(harness.transport().sent().size(), sent);
}

// A handler that releases the client ends that dispatch: the handlers, client callbacks and log
// lines still due for the message are not run.
TEST_F(RealtimeChannelTest, AHandlerThatReleasesItsClientEndsTheDispatchThere) {
  std::vector<std::string> calls;
  client->setLogger([&calls](const std::string&) { calls.push_back("logger"); });
  client->onMessage([&calls](const RealtimeMessage&) { calls.push_back("message callback"); });
  client->connect();
  harness.transport().open();
  auto channel = client->channel("room");
  subscribe(channel);
  answerJoin("ok");
  channel->on("broadcast", ChannelFilter{.event = "tick"}, [&](const RealtimeMessage&) {
    calls.push_back("releasing handler");
    client.reset();
    calls.push_back("released");
  });
  channel->on("broadcast", ChannelFilter{.event = "tick"},
              [&calls](const RealtimeMessage&) { calls.push_back("later handler"); });
  auto& transport = harness.transport();
  calls.clear();
  transport.receive(frame(std::nullopt, std::nullopt, "realtime:room", "broadcast",
                          {{"event", "tick"}, {"type", "broadcast"}}));
  EXPECT_THAT(calls, ElementsAre("logger", "releasing handler", "released"));
  EXPECT_EQ(channel->socket().lock(), nullptr);
}

TEST_F(RealtimeChannelTest, ReconcilesServerBindingIdsAndRefusesMismatchesAndShortLists) {
  client->connect();
  harness.transport().open();
  const ChannelFilter inserts{.event = "INSERT", .schema = "public", .table = "messages"};
  const ChannelFilter all{.event = "*", .schema = "public", .table = "friends"};
  const auto server = [](JSONObject filter, int id) {
    filter["id"] = id;
    return AnyJSON(std::move(filter));
  };
  const JSONObject insertsJSON{{"event", "INSERT"}, {"schema", "public"}, {"table", "messages"}};
  const JSONObject allJSON{{"event", "*"}, {"schema", "public"}, {"table", "friends"}};

  auto matching = client->channel("a");
  matching->on("postgres_changes", inserts, [](const auto&) {});
  matching->on("postgres_changes", all, [](const auto&) {});
  subscribe(matching);
  answerJoin("ok", {{"postgres_changes", JSONArray{server(insertsJSON, 11), server(allJSON, 12)}}});
  const auto kept = matching->bindings().at("postgres_changes");
  EXPECT_EQ(kept.at(0).id, "11");
  EXPECT_EQ(kept.at(1).id, "12");

  auto differing = client->channel("b");
  differing->on("postgres_changes", inserts, [](const auto&) {});
  subscribe(differing);
  answerJoin("ok", {{"postgres_changes", JSONArray{server(allJSON, 13)}}});
  EXPECT_EQ(differing->state(), ChannelState::leaving);

  auto shorter = client->channel("c");
  shorter->on("postgres_changes", inserts, [](const auto&) {});
  shorter->on("postgres_changes", all, [](const auto&) {});
  subscribe(shorter);
  answerJoin("ok", {{"postgres_changes", JSONArray{server(insertsJSON, 14)}}});
  EXPECT_EQ(shorter->state(), ChannelState::leaving);
  EXPECT_FALSE(shorter->bindings().at("postgres_changes").at(0).id);

  const std::string mismatch =
      "channelError: Mismatch between client and server bindings for postgres changes.";
  EXPECT_THAT(reports, ElementsAre("subscribed", mismatch, mismatch));
}

TEST_F(RealtimeChannelTest, RoutesPostgresChangesByServerIdAndEventInAnyLetterCase) {
  client->connect();
  harness.transport().open();
  auto channel = client->channel("db");
  States seen;
  channel->on("postgres_changes", ChannelFilter{.event = "update", .table = "messages"},
              [&](const auto&) { seen.push_back("update 11"); });
  channel->on("postgres_changes", ChannelFilter{.event = "*", .table = "friends"},
              [&](const auto&) { seen.push_back("all 12"); });
  channel->on("postgres_changes", ChannelFilter{.event = "INSERT"},
              [&](const auto&) { seen.push_back("insert"); });
  channel->on("broadcast", ChannelFilter{.event = "Cursor"},
              [&](const auto&) { seen.push_back("cursor"); });
  subscribe(channel);
  answerJoin("ok", {{"postgres_changes",
                     JSONArray{JSONObject{{"event", "update"}, {"table", "messages"}, {"id", 11}},
                               JSONObject{{"event", "*"}, {"table", "friends"}, {"id", 12}},
                               JSONObject{{"event", "INSERT"}, {"id", 13}}}}});
  const auto joinRef = channel->joinRef();
  const auto change = [&](JSONArray ids, const std::string& type) {
    harness.transport().receive(
        frame(joinRef, std::nullopt, "realtime:db", "postgres_changes",
              JSONObject{{"ids", std::move(ids)}, {"data", JSONObject{{"type", type}}}}));
  };
  change(JSONArray{12}, "UPDATE");
  change(JSONArray{11, 12}, "UPDATE");
  change(JSONArray{11}, "DELETE");
  change(JSONArray{13}, "INSERT");
  harness.transport().receive(
      frame(std::nullopt, std::nullopt, "realtime:db", "broadcast", {{"event", "cursor"}}));
  // A row event by name reaches the bindings whose filter names it, whatever its letter case.
  harness.transport().receive(frame(std::nullopt, std::nullopt, "realtime:db", "INSERT", {}));
  EXPECT_THAT(seen,
              ElementsAre("all 12", "update 11", "all 12", "insert", "cursor", "all 12", "insert"));

  seen.clear();
  channel->off("postgres_changes", ChannelFilter{.event = "INSERT"}.dictionary());
  harness.transport().receive(frame(std::nullopt, std::nullopt, "realtime:db", "insert", {}));
  EXPECT_THAT(seen, ElementsAre("all 12"));
}

TEST_F(RealtimeChannelTest, BroadcastSendWaitsForTheReplyOnlyWhenAcknowledged) {
  client->connect();
  harness.transport().open();
  auto quiet = client->channel("quiet");
  subscribe(quiet);
  answerJoin("ok");
  EXPECT_EQ(quiet->send(RealtimeListenTypes::broadcast, "ping", {{"n", 1}}), ChannelResponse::ok);
  const auto ping = lastSent("broadcast");
  EXPECT_EQ(payloadOf(ping), (JSONObject{{"type", "broadcast"}, {"event", "ping"}, {"n", 1}}));

  auto acked = client->channel("acked", {.broadcastAcknowledge = true});
  subscribe(acked);
  answerJoin("ok");
  const auto sendFromAnotherThread = [&] {
    return std::async(std::launch::async, [&] {
      return acked->send(RealtimeListenTypes::broadcast, "ping", {}, {{"timeout", 2.0}});
    });
  };
  for (const auto& [status, expected] : std::vector<std::pair<std::string, ChannelResponse>>{
           {"ok", ChannelResponse::ok}, {"error", ChannelResponse::error}}) {
    const auto count = harness.transport().sent().size();
    auto answer = sendFromAnotherThread();
    const auto sent = lastOf(harness.transport().frames(count + 1), "the sent frames");
    harness.transport().receive(reply(textAt(sent, 0), textAt(sent, 1), "realtime:acked", status));
    EXPECT_EQ(answer.get(), expected) << status;
  }
  const auto count = harness.transport().sent().size();
  auto unanswered = sendFromAnotherThread();
  harness.transport().frames(count + 1);
  harness.advance(2s);
  EXPECT_EQ(unanswered.get(), ChannelResponse::timedOut);
}

TEST_F(RealtimeChannelTest, BroadcastOnAChannelNotJoinedPostsOneApikeyOverHTTP) {
  auto socket = harness.client("wss://abcd.example.co/realtime/v1/websocket",
                               JSONObject{{"Authorization", "Bearer user-jwt"}});
  auto channel = socket->channel("room");
  EXPECT_EQ(std::string(channel->broadcastEndpointURL()->buffer()),
            "https://abcd.example.co/realtime/v1/api/broadcast");
  EXPECT_EQ(channel->send(RealtimeListenTypes::broadcast, "ping", {{"n", 1}}), ChannelResponse::ok);
  harness.http->setStatus(401);
  EXPECT_EQ(channel->send(RealtimeListenTypes::broadcast, std::nullopt, {}),
            ChannelResponse::error);

  const auto requests = harness.http->requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].method, HTTPMethod::post);
  EXPECT_EQ(requests[0].headers.values(HTTPField::Name("apikey")),
            std::vector<std::string>{"user-jwt"});
  EXPECT_EQ(requests[0].headers.get(HTTPField::Name("Content-Type")), "application/json");
  const auto body = Defaults::decode(*requests[0].body);
  const JSONObject message{
      {"topic", "room"},
      {"event", "ping"},
      {"payload", JSONObject{{"type", "broadcast"}, {"event", "ping"}, {"n", 1}}}};
  EXPECT_EQ(*body, AnyJSON(JSONObject{{"messages", message}}));
  const auto second = Defaults::decode(*requests[1].body);
  EXPECT_EQ(second->objectValue()->at("messages").objectValue()->at("event"), AnyJSON(nullptr));
}

// The "apikey" and "Authorization" fields of the last HTTP broadcast, each field's value.
using Credentials = std::pair<std::vector<std::string>, std::vector<std::string>>;
Credentials credentialsOf(const helpers::HTTPRequest& request) {
  return {request.headers.values(HTTPField::Name("apikey")),
          request.headers.values(HTTPField::Name("Authorization"))};
}

TEST_F(RealtimeChannelTest, HTTPBroadcastSendsTheApiKeyAsApikeyAndTheCurrentTokenAsBearer) {
  // As the facade makes its socket: the API key in both maps, as "Apikey" and as a bearer.
  const HeaderDictionary facadeHeaders{{"Apikey", "K"}, {"Authorization", "Bearer K"}};
  JSONObject params;
  for (const auto& [name, value] : facadeHeaders) params.emplace(name, value);
  auto socket = harness.client("https://abcd.example.co/realtime/v1", params, facadeHeaders);
  auto channel = socket->channel("room");
  const auto broadcast = [&] {
    EXPECT_EQ(channel->send(RealtimeListenTypes::broadcast, "ping", {}), ChannelResponse::ok);
    const auto request = lastOf(harness.http->requests(), "the HTTP requests");
    EXPECT_EQ(request.headers.values(HTTPField::Name("Content-Type")),
              std::vector<std::string>{"application/json"});
    EXPECT_TRUE(request.headers.contains(HTTPField::Name("X-Client-Info")));
    return credentialsOf(request);
  };
  EXPECT_EQ(broadcast(), (Credentials{{"K"}, {"Bearer K"}})) << "before sign-in";
  socket->setAuth("T");
  EXPECT_EQ(broadcast(), (Credentials{{"K"}, {"Bearer T"}})) << "signed in";
  socket->setAuth("K");
  EXPECT_EQ(broadcast(), (Credentials{{"K"}, {"Bearer K"}})) << "after sign-out";
}

TEST_F(RealtimeChannelTest, HTTPBroadcastFindsTheSocketsApiKeyWhateverItsLetterCase) {
  struct Case {
    std::string what;
    HeaderDictionary headers;
    std::optional<JSONObject> params;
    std::optional<std::string> token;
    Credentials expected;
  };
  const std::vector<Case> cases{
      {"a header in another case", {{"APIKEY", "K"}}, std::nullopt, "T", {{"K"}, {"Bearer T"}}},
      {"the exact spelling first",
       {{"APIKEY", "upper"}, {"apikey", "K"}},
       std::nullopt,
       "T",
       {{"K"}, {"Bearer T"}}},
      {"else the first in the map's order",
       {{"APIKEY", "K"}, {"ApiKey", "other"}},
       std::nullopt,
       "T",
       {{"K"}, {"Bearer T"}}},
      {"a header before the params",
       {{"apikey", "K"}},
       JSONObject{{"apikey", "P"}},
       "T",
       {{"K"}, {"Bearer T"}}},
      {"no header: the params' key in any case",
       {},
       JSONObject{{"ApiKey", "K"}, {"Authorization", "Bearer T"}},
       std::nullopt,
       {{"K"}, {"Bearer T"}}},
      {"a params' key that is not text: the token",
       {},
       JSONObject{{"apikey", 5}},
       "T",
       {{"T"}, {"Bearer T"}}},
      {"no key anywhere: the token", {}, std::nullopt, "T", {{"T"}, {"Bearer T"}}},
      {"the token replaces every bearer of the socket's",
       {{"AUTHORIZATION", "Bearer a"}, {"apikey", "K"}, {"authorization", "Bearer b"}},
       std::nullopt,
       "T",
       {{"K"}, {"Bearer T"}}},
      {"without a token the socket's own bearer stays, once",
       {{"AUTHORIZATION", "Bearer a"}, {"Authorization", "Bearer K"}, {"apikey", "K"}},
       std::nullopt,
       std::nullopt,
       {{"K"}, {"Bearer K"}}},
      {"without a token or a key, neither", {}, std::nullopt, std::nullopt, {{}, {}}},
  };
  for (const Case& c : cases) {
    auto socket = harness.client("https://abcd.example.co/realtime/v1", c.params, c.headers);
    if (c.token) socket->setAuth(c.token);
    socket->channel("room")->send(RealtimeListenTypes::broadcast, "ping", {});
    EXPECT_EQ(credentialsOf(lastOf(harness.http->requests(), "the HTTP requests")), c.expected)
        << c.what;
  }
}

TEST_F(RealtimeChannelTest, HTTPBroadcastAnswersWhatItCannotSendWithAnErrorAndNoExtraField) {
  const std::string endPoint = "https://abcd.example.co/realtime/v1";
  // A socket header whose name is no field name cannot go out: the send fails, and says so.
  auto badName = harness.client(endPoint, std::nullopt, {{"Bad Name", "v"}});
  ChannelResponse response = ChannelResponse::ok;
  EXPECT_NO_THROW(response = badName->channel("room")->send(RealtimeListenTypes::broadcast,
                                                            "ping", {}));
  EXPECT_EQ(response, ChannelResponse::error);
  EXPECT_THAT(harness.http->requests(), ::testing::IsEmpty());

  // A token holding a line break makes no field of its own.
  auto socket = harness.client(endPoint, std::nullopt, {{"apikey", "K"}});
  socket->setAuth("T\r\nX-Injected: 1");
  EXPECT_EQ(socket->channel("room")->send(RealtimeListenTypes::broadcast, "ping", {}),
            ChannelResponse::ok);
  const auto request = lastOf(harness.http->requests(), "the HTTP requests");
  EXPECT_FALSE(request.headers.contains(HTTPField::Name("X-Injected")));
  for (const HTTPField& field : request.headers) {
    EXPECT_EQ(field.value().find_first_of("\r\n"), std::string::npos) << field.description();
  }
}

TEST_F(RealtimeChannelTest, AnsweredPushesLeaveNoReplyKeysBehind) {
  client->connect();
  harness.transport().open();
  auto channel = client->channel("room");
  subscribe(channel);
  answerJoin("ok");
  const auto keysBefore = channel->bindings().size();
  for (int n = 0; n < 50; ++n) {
    channel->push("custom", {{"n", n}});
    const auto sent = lastSent("custom");
    harness.transport().receive(
        reply(textAt(sent, 0), textAt(sent, 1), textAt(sent, 2), n % 2 ? "ok" : "error", {}));
  }
  EXPECT_EQ(channel->bindings().size(), keysBefore);
}

}  // namespace
}  // namespace voduzazi::realtime
