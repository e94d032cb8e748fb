#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <atomic>
#include <cstdio>
#include <future>
#include <thread>

#include "tests/realtime/client_v2_harness.hpp"
#include "tests/realtime/thread_count.hpp"
#include "tests/support/checked_list.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/issue_reporting/expected_issue.hpp"
#include "voduzazi/realtime/detail/retry_backoff.hpp"

namespace voduzazi::realtime {
namespace {

namespace json = boost::json;
using namespace std::chrono_literals;
using testing::eventually;
using testing::FakeWebSocket;
using testing::Recorder;
using testing::replyTo;
using testing::serverFrame;
using voduzazi::testing::firstOf;
using voduzazi::testing::lastOf;

class RealtimeChannelV2Test : public testing::RealtimeV2Test {
 protected:
  // The channel "room" over a server that answers joins and leaves, not joined yet.
  std::shared_ptr<RealtimeChannelV2> openRoom(
      std::function<void(RealtimeChannelConfig&)> configure = {}) {
    makeClient();
    transport_->respondWith(testing::friendlyServer());
    return client_->channel("room", configure);
  }

  // Joins the channel and returns the socket.
  std::shared_ptr<FakeWebSocket> join(RealtimeChannelV2& channel) {
    channel.subscribeWithError();
    return transport_->waitForSocket(1);
  }

  // A joined channel and its socket.
  std::pair<std::shared_ptr<RealtimeChannelV2>, std::shared_ptr<FakeWebSocket>> room(
      std::function<void(RealtimeChannelConfig&)> configure = {}) {
    auto channel = openRoom(std::move(configure));
    auto socket = join(*channel);
    return {channel, socket};
  }

  // Delivers a frame on the room's topic and waits until the client handled it.
  void deliver(FakeWebSocket& socket, std::string_view event, json::object payload,
               std::optional<std::string> joinRef = std::nullopt) {
    socket.receive(serverFrame("realtime:room", event, std::move(payload), std::move(joinRef)));
    socket.receive(serverFrame("realtime:room", "marker", {}));
    ASSERT_TRUE(eventually(
        [&] { return logger_->count("Received message without event type") > markers_; }));
    ++markers_;
  }

  std::size_t markers_ = 0;
};

// --- Joining.

TEST_F(RealtimeChannelV2Test, JoinsWithItsConfigurationTokenAndVersion) {
  auto [channel, socket] = room([](RealtimeChannelConfig& config) {
    config.broadcast.receiveOwnBroadcasts = true;
    config.presence.key = "ada";
    config.isPrivate = true;
  });
  const auto join = socket->waitForEvent("phx_join");
  EXPECT_EQ(join.at("topic"), "realtime:room");
  EXPECT_EQ(join.at("ref"), join.at("join_ref"));
  const auto& payload = join.at("payload").as_object();
  EXPECT_EQ(payload.at("access_token"), "anon-key");
  EXPECT_EQ(std::string(payload.at("version").as_string()), "realtime-cpp/" + std::string(version));
  EXPECT_EQ(json::serialize(payload.at("config")),
            R"({"broadcast":{"ack":false,"self":true},"postgres_changes":[],)"
            R"("presence":{"enabled":false,"key":"ada"},"private":true})");
  EXPECT_EQ(channel->status(), RealtimeChannelStatus::subscribed);
  EXPECT_EQ(channel->mutableState().joinRef, join.at("ref").as_string().c_str());
  EXPECT_TRUE(logger_->contains("Successfully subscribed to channel 'realtime:room'"));
}

TEST_F(RealtimeChannelV2Test, SendsItsPostgresChangesAndPresenceWishInTheJoin) {
  makeClient();
  transport_->respondWith(testing::friendlyServer());
  auto channel = client_->channel("db");
  auto presence = channel->onPresenceChange([](const PresenceAction&) {});
  auto inserts = channel->postgresChange<InsertAction>("public", "messages",
                                                       RealtimePostgresFilter::eq("id", 7));
  channel->subscribeWithError();
  const auto config =
      transport_->waitForSocket(1)->waitForEvent("phx_join").at("payload").at("config");
  EXPECT_EQ(config.at("presence").at("enabled"), true);
  EXPECT_EQ(json::serialize(config.at("postgres_changes")),
            R"([{"event":"INSERT","filter":"id=eq.7","schema":"public","table":"messages"}])");
  EXPECT_EQ(firstOf(channel->callbackManager().state().serverChanges, "the changes").id, 1);
}

TEST_F(RealtimeChannelV2Test, RetriesTimedOutJoinsWithBackOffThenGivesUp) {
  auto options = this->options();
  options.heartbeatInterval = Seconds(1000);  // no beat within the minute this takes
  makeClient(options);
  auto channel = client_->channel("room");
  Task<void> subscribing([channel] {
    try {
      channel->subscribeWithError();
      ADD_FAILURE() << "subscribed without an answer";
    } catch (const RealtimeError& error) {
      EXPECT_STREQ(error.what(), "Maximum retry attempts reached.");
    }
  });
  const double bases[] = {1, 2, 4, 8};
  for (int attempt = 1; attempt <= 5; ++attempt) {
    // The attempt's deadline is planned before it connects and sends its join: time moved on
    // before the join is out would end the attempt unsent (the first one, still connecting).
    const auto join = transport_->waitForSocket(1)->waitForEvent("phx_join", attempt - 1);
    ASSERT_FALSE(join.empty()) << "attempt " << attempt << " sent no join";
    advanceWhenSleeping(10s);
    if (attempt == 5) break;
    ASSERT_TRUE(eventually([&] {
      return logger_->count("Retrying subscription to channel 'realtime:room'") ==
             static_cast<std::size_t>(attempt);
    }));
    const double delay = lastOf(sleeper_->intervals(), "the sleeps");
    EXPECT_GE(delay, bases[attempt - 1] * 0.75);
    EXPECT_LE(delay, bases[attempt - 1] * 1.25);
    advanceWhenSleeping(std::chrono::duration<double>(delay));
  }
  subscribing.value();
  EXPECT_EQ(logger_->count("Subscribe timed out for channel 'realtime:room'"), 5u);
  EXPECT_EQ(logger_->count("Retrying subscription"), 4u);
  EXPECT_EQ(transport_->waitForSocket(1)->countEvents("phx_join"), 5u);
  EXPECT_EQ(channel->status(), RealtimeChannelStatus::unsubscribed);
}

// "subscribed", or what the subscribe threw.
std::string subscribeOutcome(RealtimeChannelV2& channel) {
  try {
    channel.subscribeWithError();
    return "subscribed";
  } catch (const std::exception& error) {
    return error.what();
  }
}

TEST_F(RealtimeChannelV2Test, RemovalEndsAPendingJoinWhoseAnswersNeverReachTheNewObject) {
  makeClient();
  auto keep = joined("keep");  // the client stays connected
  auto socket = transport_->waitForSocket(1);
  socket->respond({});  // joins go unanswered until the test answers them
  auto old = client_->channel("room");
  Task<std::string> oldSubscribe([old] { return subscribeOutcome(*old); });
  const auto oldJoin = socket->waitForFrame([](const json::object& frame) {
    return frame.at("event") == "phx_join" && frame.at("topic") == "realtime:room";
  });
  client_->removeChannel(old);
  EXPECT_EQ(oldSubscribe.value(), "Channel realtime:room was removed while subscribing.");
  // The server may hold that join: the removal leaves it.
  const auto leave = socket->waitForEvent("phx_leave");
  EXPECT_EQ(leave.at("join_ref"), oldJoin.at("ref"));

  auto live = client_->channel("room");
  auto changes = live->postgresChange("public", "messages");
  Task<std::string> liveSubscribe([live] { return subscribeOutcome(*live); });
  const auto liveJoin = socket->waitForEvent("phx_join", 2);
  // The answers to the removed object's join come first; they are not the new object's.
  const json::array oldChanges{json::object{{"event", "*"}, {"schema", "public"}, {"id", 7}}};
  socket->receive(replyTo(oldJoin, "ok", {{"postgres_changes", oldChanges}}));
  deliver(*socket, "system", {{"status", "ok"}}, oldJoin.at("ref").as_string().c_str());
  EXPECT_EQ(live->status(), RealtimeChannelStatus::subscribing);
  const json::array liveChanges{
      json::object{{"event", "*"}, {"schema", "public"}, {"table", "messages"}, {"id", 8}}};
  socket->receive(replyTo(liveJoin, "ok", {{"postgres_changes", liveChanges}}));
  EXPECT_EQ(liveSubscribe.value(), "subscribed");
  EXPECT_EQ(firstOf(live->callbackManager().state().serverChanges, "the changes").id, 8);
  EXPECT_EQ(socket->countEvents("phx_join"), 3u);  // the removed object sent no other
  EXPECT_EQ(old->status(), RealtimeChannelStatus::unsubscribed);
}

TEST_F(RealtimeChannelV2Test, UnsubscribingEndsAPendingJoin) {
  makeClient();
  connected();
  auto room = client_->channel("room");
  Task<std::string> subscribing([room] { return subscribeOutcome(*room); });
  transport_->waitForSocket(1)->waitForEvent("phx_join");
  room->unsubscribe();
  EXPECT_EQ(subscribing.value(), "Channel realtime:room was unsubscribed while subscribing.");
  EXPECT_EQ(transport_->waitForSocket(1)->countEvents("phx_join"), 1u);
}

// Ending a subscribe stops its waits, the access-token function's among them, once the channel's
// own lock is let go: a stop callback of that function's may call the channel.
TEST_F(RealtimeChannelV2Test, AnEndedSubscribesStopCallbacksMayCallTheChannel) {
  struct Scene {
    std::shared_ptr<RealtimeChannelV2> room;
    std::promise<void> reached;
    std::future<void> unsubscribing;  // outlives the callback: it may still wait for the lock
    std::atomic<bool> calledInTime{false};
  };
  auto scene = std::make_shared<Scene>();
  auto options = this->options();
  options.accessToken = [scene]() -> std::optional<std::string> {
    // The call runs on a thread of its own, waited for at most 2 s: a channel still locked by
    // the ending thread fails the test instead of hanging it.
    std::stop_callback onStop(this_task::stopToken(), [scene] {
      scene->unsubscribing =
          std::async(std::launch::async, [scene] { scene->room->unsubscribe(); });
      scene->calledInTime = scene->unsubscribing.wait_for(2s) == std::future_status::ready;
    });
    scene->reached.set_value();
    this_task::sleepFor(10s);  // ends at the stop
    return std::nullopt;
  };
  makeClient(options);
  connected();
  scene->room = client_->channel("room");
  Task<std::string> subscribing([scene] { return subscribeOutcome(*scene->room); });
  ASSERT_EQ(scene->reached.get_future().wait_for(10s), std::future_status::ready);
  scene->room->unsubscribe();
  EXPECT_TRUE(scene->calledInTime) << "the stop callback waited for the channel";
  EXPECT_EQ(subscribing.value(), "Channel realtime:room was unsubscribed while subscribing.");
  scene->unsubscribing.get();  // also lets go of the state that holds the scene
}

TEST(RetryDelay, StaysWithinAQuarterOfItsBaseAndNeverBelowATenth) {
  EXPECT_DOUBLE_EQ(detail::retryDelay(1, 0.5), 1.0);
  EXPECT_DOUBLE_EQ(detail::retryDelay(4, 0.0), 6.0);
  EXPECT_DOUBLE_EQ(detail::retryDelay(4, 1.0), 10.0);
  EXPECT_DOUBLE_EQ(detail::retryDelay(6, 0.0), 22.5);
  EXPECT_DOUBLE_EQ(detail::retryDelay(40, 1.0), 37.5);
  EXPECT_DOUBLE_EQ(detail::retryDelay(1, -3.0), 0.75);
}

TEST_F(RealtimeChannelV2Test, RefusesToJoinWhileDisconnectedWithoutConnectOnSubscribe) {
  auto options = this->options();
  options.connectOnSubscribe = false;
  options.maxRetryAttempts = 1;
  makeClient(options);
  auto channel = client_->channel("room");
  withExpectedIssue([&] { EXPECT_THROW(channel->subscribeWithError(), RealtimeError); });
  EXPECT_EQ(transport_->attempts(), 0);
  EXPECT_EQ(channel->status(), RealtimeChannelStatus::unsubscribed);
}

TEST_F(RealtimeChannelV2Test, MakesNoAttemptWithoutRetryAttempts) {
  auto options = this->options();
  options.maxRetryAttempts = 0;
  makeClient(options);
  EXPECT_THROW(client_->channel("room")->subscribeWithError(), RealtimeError);
  EXPECT_TRUE(logger_->contains("failed after 0 attempts"));
}

TEST_F(RealtimeChannelV2Test, TakesASystemOkAsSubscribed) {
  makeClient();
  transport_->respondWith([](const json::object& frame) -> std::vector<std::string> {
    if (frame.at("event") != "phx_join") return {};
    return {serverFrame(frame.at("topic").as_string(), "system", {{"status", "ok"}})};
  });
  auto channel = client_->channel("room");
  std::atomic<int> systems = 0;
  auto token = channel->onSystem([&] { ++systems; });
  channel->subscribeWithError();
  EXPECT_EQ(channel->status(), RealtimeChannelStatus::subscribed);
  // The status changes before the system callbacks run, on the client's own task.
  EXPECT_TRUE(eventually([&] { return systems == 1; }));
}

// --- Incoming frames.

TEST_F(RealtimeChannelV2Test, DeliversBroadcastsToTheirEventAndToStreams) {
  auto [channel, socket] = room();
  Recorder<std::string> seen;
  auto token = channel->onBroadcast("Typing", [&](const JSONObject& payload) {
    seen.listener()(payload.at("payload").objectValue()->at("who").stringValue()->c_str());
  });
  auto stream = channel->broadcastStream("typing");
  const json::object broadcast{
      {"type", "broadcast"}, {"event", "typing"}, {"payload", json::object{{"who", "ada"}}}};
  deliver(*socket, "broadcast", broadcast);
  deliver(*socket, "broadcast", broadcast);
  EXPECT_EQ(seen.values().size(), 2u);
  EXPECT_EQ(stream.next()->at("event"), AnyJSON("typing"));  // both wait, in order
  EXPECT_TRUE(stream.next().has_value());
  token->cancel();
  EXPECT_TRUE(logger_->contains("Removing broadcast callback with id: 1"));
  deliver(*socket, "broadcast", broadcast);
  EXPECT_EQ(seen.values().size(), 2u);
}

TEST_F(RealtimeChannelV2Test, DeliversRowChangesToMatchingRegistrationsByConfirmedId) {
  makeClient();
  transport_->respondWith(testing::friendlyServer());
  auto channel = client_->channel("room");
  std::atomic<int> inserts = 0;
  std::atomic<int> updates = 0;
  auto a = channel->onPostgresChange<InsertAction>("public", "messages", std::nullopt,
                                                   [&](const InsertAction&) { ++inserts; });
  auto b = channel->onPostgresChange<UpdateAction>("public", "messages", std::nullopt,
                                                   [&](const UpdateAction&) { ++updates; });
  channel->subscribeWithError();
  auto socket = transport_->waitForSocket(1);
  const auto changeFrame = [](json::array ids, std::string type) {
    return json::object{{"ids", std::move(ids)},
                        {"data", json::object{{"type", type},
                                              {"columns", json::array{}},
                                              {"commit_timestamp", "2024-01-02T03:04:05Z"},
                                              {"record", json::object{{"id", 1}}}}}};
  };
  deliver(*socket, "postgres_changes", changeFrame(json::array{1, "x", 2.5, 3}, "INSERT"));
  deliver(*socket, "postgres_changes", changeFrame(json::array{3}, "INSERT"));
  deliver(*socket, "postgres_changes", changeFrame(json::array{2}, "UPDATE"));
  EXPECT_EQ(inserts, 1);
  EXPECT_EQ(updates, 1);
}

TEST_F(RealtimeChannelV2Test, DeliversPresenceStateAndDiffs) {
  auto channel = openRoom();
  auto changes = channel->presenceChange();
  auto socket = join(*channel);
  const json::object ada{{"metas", json::array{json::object{{"phx_ref", "r1"}, {"n", 1}}}}};
  deliver(*socket, "presence_state", json::object{{"ada", ada}});
  deliver(*socket, "presence_diff", json::object{{"leaves", json::object{{"ada", ada}}}});
  const auto state = changes.next();
  ASSERT_TRUE(state);
  EXPECT_EQ(state->joins().at("ada").ref, "r1");
  EXPECT_TRUE(state->leaves().empty());
  const auto diff = changes.next();
  EXPECT_TRUE(diff->joins().empty());
  EXPECT_EQ(diff->leaves().at("ada").state, (JSONObject{{"n", 1}}));
  EXPECT_EQ(diff->rawMessage().event, "presence_diff");
}

TEST_F(RealtimeChannelV2Test, LeavesItsStateAloneForMalformedFrames) {
  auto channel = openRoom();
  std::atomic<int> calls = 0;
  auto broadcasts = channel->onBroadcast("*", [&](const JSONObject&) { ++calls; });
  auto presence = channel->onPresenceChange([&](const PresenceAction&) { ++calls; });
  auto socket = join(*channel);
  deliver(*socket, "postgres_changes", {{"ids", json::array{1}}});
  EXPECT_TRUE(logger_->contains(R"(Expected "data" key in message payload.)"));
  deliver(*socket, "postgres_changes",
          {{"data", json::object{{"type", "TRUNCATE"},
                                 {"columns", json::array{}},
                                 {"commit_timestamp", "2024-01-02T03:04:05Z"}}}});
  EXPECT_TRUE(logger_->contains("Failed: Unknown event type: TRUNCATE"));
  deliver(*socket, "broadcast", {{"payload", json::object{}}});
  EXPECT_TRUE(logger_->contains("Failed: Expected 'event' key in 'payload' for broadcast event."));
  deliver(*socket, "presence_diff", {{"joins", json::object{{"x", json::object{}}}}});
  deliver(*socket, "presence_state", {{"x", json::object{{"metas", json::array{}}}}});
  EXPECT_EQ(logger_->count("Failed: A presence should at least have a phx_ref."), 2u);
  socket->receive(R"({"topic":"realtime:room","event":"phx_reply","payload":{"status":1}})");
  deliver(*socket, "phx_error", {});
  EXPECT_TRUE(logger_->contains("Failed: Received a reply with unexpected payload"));
  EXPECT_TRUE(logger_->contains("Received an error in channel realtime:room"));
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(channel->status(), RealtimeChannelStatus::subscribed);
}

TEST_F(RealtimeChannelV2Test, ClosesWhenTheServerSaysSo) {
  auto [channel, socket] = room();
  // The close of an earlier join changes nothing.
  deliver(*socket, "phx_close", {}, "0");
  EXPECT_EQ(channel->status(), RealtimeChannelStatus::subscribed);
  socket->receive(serverFrame("realtime:room", "phx_close", {}, channel->mutableState().joinRef));
  ASSERT_TRUE(eventually([&] { return channel->status() == RealtimeChannelStatus::unsubscribed; }));
  EXPECT_TRUE(client_->channels().empty());
  EXPECT_TRUE(logger_->contains("Unsubscribed from channel realtime:room"));
}

TEST_F(RealtimeChannelV2Test, RefusesRowChangesOnceJoinedAndTheirStreamStaysEmpty) {
  auto [channel, socket] = room();
  std::shared_ptr<ObservationToken> token;
  withExpectedIssue([&] {
    token =
        channel->onPostgresChange("public", std::nullopt, std::nullopt, [](const AnyAction&) {});
  });
  token->cancel();
  EXPECT_TRUE(channel->mutableState().clientChanges.empty());
  EXPECT_FALSE(logger_->contains("Removing postgres callback"));
}

TEST_F(RealtimeChannelV2Test, AStreamEndsItsRegistrationWhenItsReaderGoes) {
  auto [channel, socket] = room();
  {
    auto stream = channel->system();
    EXPECT_EQ(channel->callbackManager().state().callbacks.size(), 1u);
  }
  EXPECT_TRUE(channel->callbackManager().state().callbacks.empty());
  EXPECT_TRUE(logger_->contains("Removing system callback with id: 1"));
}

// --- Pushes and broadcasts.

TEST_F(RealtimeChannelV2Test, WaitsForAcknowledgementsAndReportsTheirStatus) {
  auto [channel, socket] =
      room([](RealtimeChannelConfig& config) { config.broadcast.acknowledgeBroadcasts = true; });
  // Answers come back at once, from inside the send: the wait must already be in place.
  std::string answer = "ok";
  socket->respond([&](const json::object& frame) -> std::vector<std::string> {
    if (frame.at("event") != "broadcast") return {};
    return {replyTo(frame, answer)};
  });
  EXPECT_EQ(channel->broadcast("e", JSONObject{{"n", 1}}), PushStatus::ok);
  answer = "error";
  EXPECT_EQ(channel->broadcast("e", JSONObject{}), PushStatus::error);
  answer = "weird";
  EXPECT_EQ(channel->broadcast("e", JSONObject{}), PushStatus::error);
  socket->respond({});
  Task<PushStatus> silent([channel = channel] { return channel->broadcast("e", JSONObject{}); });
  advanceWhenSleeping(10s);
  EXPECT_EQ(silent.value(), PushStatus::timeout);
  EXPECT_TRUE(logger_->contains("Push timed out."));
  EXPECT_TRUE(channel->mutableState().pushes.empty());
  const auto sent = socket->waitForEvent("broadcast");
  EXPECT_EQ(json::serialize(sent.at("payload")),
            R"({"event":"e","payload":{"n":1},"type":"broadcast"})");
}

TEST_F(RealtimeChannelV2Test, BroadcastsOverHTTPBeforeJoining) {
  makeClient();
  client_->setAuth("user-token");
  auto channel = client_->channel("room", [](RealtimeChannelConfig& c) { c.isPrivate = true; });
  http_->hold();
  EXPECT_EQ(channel->broadcast("wave", JSONObject{{"hi", true}}), PushStatus::ok);  // no wait
  ASSERT_TRUE(eventually([&] { return http_->requests().size() == 1; }));
  http_->release();
  const auto request = http_->requests().front();
  EXPECT_EQ(request.url.buffer(), "https://project.example/realtime/v1/api/broadcast");
  EXPECT_EQ(request.method, HTTPMethod::post);
  EXPECT_EQ(request.headers.get(apiKeyFieldName()), "anon-key");
  EXPECT_EQ(request.headers.get(HTTPField::Name::authorization), "Bearer user-token");
  EXPECT_EQ(request.headers.get(HTTPField::Name::contentType), "application/json");
  EXPECT_EQ(*request.body,
            R"({"messages":[{"topic":"realtime:room","event":"wave","payload":{"hi":true},)"
            R"("private":true}]})");
  EXPECT_EQ(transport_->attempts(), 0);
}

TEST_F(RealtimeChannelV2Test, ReportsHTTPBroadcastFailuresWhenAcknowledging) {
  makeClient();
  auto channel = client_->channel(
      "room", [](RealtimeChannelConfig& c) { c.broadcast.acknowledgeBroadcasts = true; });
  http_->setStatus(500);
  EXPECT_EQ(channel->broadcast("wave", JSONObject{}), PushStatus::error);
  EXPECT_TRUE(logger_->contains("Broadcast over HTTP failed with status 500"));
  http_->setStatus(202);
  EXPECT_EQ(channel->broadcast("wave", JSONObject{}), PushStatus::ok);
  http_->hold();
  Task<PushStatus> slow([channel] { return channel->broadcast("wave", JSONObject{}); });
  advanceWhenSleeping(10s);
  EXPECT_EQ(slow.value(), PushStatus::timeout);
  http_->release();
  struct NotAnObject {
    json::value toJSON() const { return json::array{1}; }
  };
  EXPECT_THROW(channel->broadcast("wave", NotAnObject{}), DecodingError);
}

TEST_F(RealtimeChannelV2Test, CallersWaitingForAcknowledgementsAddNoThreadsOfTheirOwn) {
  auto [channel, socket] =
      room([](RealtimeChannelConfig& config) { config.broadcast.acknowledgeBroadcasts = true; });
  const int idle = testing::threadCount();
  constexpr int callers = 500;
  std::atomic<int> timedOut = 0;
  std::vector<std::thread> threads;
  for (int n = 0; n < callers; ++n) {
    threads.emplace_back([&, channel = channel] {
      if (channel->broadcast("e", JSONObject{}) == PushStatus::timeout) ++timedOut;
    });
  }
  ASSERT_TRUE(eventually([&] { return socket->countEvents("broadcast") == callers; }, 60s));
  // A thread or two per waiting caller would show at once; give them time to show anyway.
  int peak = 0;
  EXPECT_FALSE(eventually(
      [&] {
        peak = std::max(peak, testing::threadCount());
        return peak > idle + callers + 8;
      },
      2s));
  std::printf("threads: idle client %d, with %d callers waiting for acknowledgements %d (+%d)\n",
              idle, callers, peak, peak - idle);
  // Their time-outs, spread over the time the callers took to start, end every wait.
  EXPECT_TRUE(eventually(
      [&] {
        clock_->advance(1s);
        return timedOut == callers;
      },
      60s));
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(timedOut, callers);
}

// Lets held requests go at the end of a test, whatever happened in it, so that the client's
// senders can end.
struct ReleasedAtEnd {
  testing::RecordingHTTPClient& http;
  ~ReleasedAtEnd() { http.release(); }
};

TEST_F(RealtimeChannelV2Test, HTTPBroadcastsShareFourSendersAndEndWithinTheirTimeOut) {
  makeClient();
  auto acknowledged = client_->channel(
      "room", [](RealtimeChannelConfig& c) { c.broadcast.acknowledgeBroadcasts = true; });
  http_->hold();
  ReleasedAtEnd released{*http_};
  std::vector<Task<PushStatus>> waiting;
  for (int n = 0; n < 5; ++n) {
    waiting.emplace_back([acknowledged, n] {
      return acknowledged->broadcast("wave", JSONObject{{"n", n}});
    });
  }
  ASSERT_TRUE(eventually([&] { return http_->requests().size() == 4; }));
  // The callers give up after timeoutInterval; their requests go on, the fifth still waiting.
  advanceWhenSleeping(10s);
  ASSERT_TRUE(eventually([&] {
    clock_->advance(100ms);
    return std::all_of(waiting.begin(), waiting.end(), [](auto& t) { return t.isFinished(); });
  }));
  for (auto& caller : waiting) EXPECT_EQ(caller.value(), PushStatus::timeout);
  EXPECT_EQ(http_->requests().size(), 4u);
  http_->release();
  // Taken ten seconds after the call, the fifth has only what is left of its 60 s.
  ASSERT_TRUE(eventually([&] { return http_->requests().size() == 5; }));
  EXPECT_GT(http_->requests()[0].timeoutInterval, 59.0);
  EXPECT_LE(http_->requests()[0].timeoutInterval, 60.0);
  EXPECT_GT(http_->requests()[4].timeoutInterval, 45.0);
  EXPECT_LT(http_->requests()[4].timeoutInterval, 50.5);
}

TEST_F(RealtimeChannelV2Test, HTTPBroadcastsStillWaitingForASenderAtTheirTimeOutFailUnsent) {
  makeClient();
  auto room = client_->channel("room");
  http_->hold();
  ReleasedAtEnd released{*http_};
  for (int n = 0; n < 6; ++n) {
    EXPECT_EQ(room->broadcast("wave", JSONObject{{"n", n}}), PushStatus::ok);  // no wait
  }
  ASSERT_TRUE(eventually([&] { return http_->requests().size() == 4; }));
  ASSERT_TRUE(eventually([&] {
    clock_->advance(10s);
    return logger_->count("Broadcast over HTTP not sent") == 2;
  }));
  http_->release();
  ASSERT_TRUE(eventually([&] { return sleeper_->sleeping() == 0; }));
  EXPECT_EQ(http_->requests().size(), 4u);
}

TEST_F(RealtimeChannelV2Test, TracksAndUntracksPresence) {
  makeClient();
  auto early = client_->channel("early");
  withExpectedIssue([&] { early->track(JSONObject{{"n", 1}}); });
  EXPECT_EQ(client_->mutableState().sendBuffer.size(), 1u);  // still sent, once connected
  transport_->respondWith(testing::friendlyServer());
  auto channel = client_->channel("room");
  auto socket = join(*channel);
  channel->track(JSONObject{{"name", "ada"}});
  channel->untrack();
  EXPECT_EQ(json::serialize(socket->waitForEvent("presence", 1).at("payload")),
            R"({"event":"track","payload":{"name":"ada"},"type":"presence"})");
  EXPECT_EQ(json::serialize(socket->waitForEvent("presence", 2).at("payload")),
            R"({"event":"untrack","type":"presence"})");
}

TEST_F(RealtimeChannelV2Test, RejoinsAfterAReconnectBeforeSendingWhatWaited) {
  auto [channel, socket] = room();
  auto idle = client_->channel("idle");  // never joined: not joined again either
  socket->serverClose(1006, "gone");
  ASSERT_TRUE(eventually([&] { return client_->status() == RealtimeClientStatus::disconnected; }));
  EXPECT_EQ(channel->broadcast("queued", JSONObject{}), PushStatus::ok);  // buffered
  advanceWhenSleeping(7s);
  auto second = transport_->waitForSocket(2);
  ASSERT_TRUE(eventually([&] { return second->countEvents("broadcast") == 1; }));
  const auto frames = second->sentFrames();
  const auto position = [&](std::string_view event) {
    for (std::size_t i = 0; i < frames.size(); ++i) {
      if (frames[i].at("event").as_string() == event) return static_cast<int>(i);
    }
    return -1;
  };
  EXPECT_LT(position("phx_join"), position("broadcast"));
  EXPECT_EQ(second->countEvents("phx_join"), 1u);
  // The join's answer goes on to the status on the client's own task.
  EXPECT_TRUE(eventually([&] { return channel->status() == RealtimeChannelStatus::subscribed; }));
}

TEST_F(RealtimeChannelV2Test, ASubscribeThatGivesUpAfterANewConnectionOpenedHandsItsRejoinOver) {
  auto options = this->options();
  options.maxRetryAttempts = 1;
  options.heartbeatInterval = Seconds(1000);
  makeClient(options);
  auto room = client_->channel("room");
  Task<std::string> subscribing([room] { return subscribeOutcome(*room); });
  auto first = transport_->waitForSocket(1);
  first->waitForEvent("phx_join");  // never answered
  transport_->respondWith(testing::friendlyServer());
  first->serverClose(1006, "gone");
  advanceWhenSleeping(7s);  // the reconnect, while the subscribe still waits for its answer
  auto second = transport_->waitForSocket(2);
  ASSERT_NE(second, nullptr);
  clock_->advance(3s);  // the attempt's ten seconds are up: the subscribe gives up
  EXPECT_EQ(subscribing.value(), "Maximum retry attempts reached.");
  // The new connection left the channel to that subscribe, which never joined on it.
  ASSERT_TRUE(eventually([&] { return room->status() == RealtimeChannelStatus::subscribed; }));
  EXPECT_EQ(second->countEvents("phx_join"), 1u);
}

TEST_F(RealtimeChannelV2Test, ARejoinComingAfterTheChannelsOwnJoinOnThatConnectionSendsNothing) {
  auto [channel, socket] = room();
  // The connection's rejoin task may run only once the subscribe that opened it has joined.
  EXPECT_EQ(channel->rejoin(1), RealtimeChannelV2::Rejoin::done);
  EXPECT_EQ(channel->status(), RealtimeChannelStatus::subscribed);
  auto idle = client_->channel("idle");  // made, never subscribed
  EXPECT_EQ(idle->rejoin(1), RealtimeChannelV2::Rejoin::unwanted);
  EXPECT_EQ(socket->countEvents("phx_join"), 1u);
}

TEST_F(RealtimeChannelV2Test, AddingPresenceToAJoinedChannelJoinsAgainWithPresence) {
  auto [channel, socket] = room();
  auto token = channel->onPresenceChange([](const PresenceAction&) {});
  const auto rejoin = socket->waitForEvent("phx_join", 1);
  EXPECT_EQ(rejoin.at("payload").at("config").at("presence").at("enabled"), true);
  EXPECT_EQ(socket->countEvents("phx_leave"), 1u);
  ASSERT_TRUE(eventually([&] { return channel->status() == RealtimeChannelStatus::subscribed; }));
  EXPECT_EQ(client_->channels().count("realtime:room"), 1u);
}

}  // namespace
}  // namespace voduzazi::realtime
