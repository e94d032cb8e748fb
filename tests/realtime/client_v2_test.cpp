#include <gtest/gtest.h>

#include <atomic>
#include <boost/json/serialize.hpp>
#include <stop_token>
#include <ostream>
#include <stop_token>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/realtime/client_v2_harness.hpp"
#include "voduzazi/concurrency/detail/wait_queue.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/issue_reporting/expected_issue.hpp"

namespace voduzazi::realtime {
namespace {

namespace json = boost::json;
using namespace std::chrono_literals;
using testing::eventually;
using testing::FakeWebSocket;
using testing::Recorder;

using Client = RealtimeClientV2;

// --- Options, URLs and construction.

TEST(RealtimeClientOptions, DefaultsAndLogLevels) {
  const RealtimeClientOptions options;
  EXPECT_TRUE(options.headers.empty());
  EXPECT_EQ(options.heartbeatInterval, Seconds(25));
  EXPECT_EQ(options.reconnectDelay, Seconds(7));
  EXPECT_EQ(options.timeoutInterval, Seconds(10));
  EXPECT_TRUE(options.disconnectOnSessionLoss);
  EXPECT_TRUE(options.connectOnSubscribe);
  EXPECT_EQ(options.maxRetryAttempts, 5);
  EXPECT_FALSE(options.logLevel || options.fetch || options.accessToken || options.logger);
  EXPECT_EQ(logLevelFromString("warn"), LogLevel::warn);
  EXPECT_EQ(logLevelFromString("WARN"), std::nullopt);
  EXPECT_EQ(logLevelFromString("warning"), std::nullopt);
  EXPECT_EQ(toString(RealtimeClientStatus::connecting), "Connecting");
  EXPECT_EQ(RealtimeClientOptions(HeaderDictionary{{"Apikey", "k"}}).headers.get(apiKeyFieldName()),
            "k");
}

TEST(RealtimeClientV2, DerivesTheWebSocketURL) {
  const auto socketURL = [](std::string_view base, std::optional<LogLevel> level) {
    return std::string(
        Client::realtimeWebSocketURL(Client::realtimeBaseURL(boost::urls::url(base)), "key", level)
            .buffer());
  };
  EXPECT_EQ(socketURL("https://h.example/realtime/v1", LogLevel::warn),
            "wss://h.example/realtime/v1/websocket?apikey=key&vsn=1.0.0&log_level=warn");
  EXPECT_EQ(socketURL("http://h.example/realtime/v1/?a=1", std::nullopt),
            "ws://h.example/realtime/v1/websocket?a=1&apikey=key&vsn=1.0.0");
  EXPECT_EQ(socketURL("wss://h.example/rt", std::nullopt),
            "wss://h.example/rt/websocket?apikey=key&vsn=1.0.0");
}

class RealtimeClientV2Test : public testing::RealtimeV2Test {};

TEST_F(RealtimeClientV2Test, TakesTheFirstTokenAndClientInfoFromTheHeaders) {
  EXPECT_EQ(makeClient().accessToken(), "anon-key");
  EXPECT_EQ(client_->options().headers.get(field_names::xClientInfo),
            "realtime-cpp/" + std::string(version));
  auto headers = [](HeaderDictionary dictionary) {
    RealtimeClientOptions options(dictionary);
    return options;
  };
  EXPECT_EQ(makeClient(headers({{"apikey", "k"}, {"Authorization", "Bearer "}})).accessToken(),
            "Bearer");
  EXPECT_EQ(makeClient(headers({{"apikey", "k"}})).accessToken(), std::nullopt);
  EXPECT_EQ(makeClient(headers({{"apikey", "k"}, {"X-Client-Info", "mine/1"}}))
                .options()
                .headers.get(field_names::xClientInfo),
            "mine/1");
  EXPECT_THROW(makeClient(RealtimeClientOptions()), std::invalid_argument);
}

TEST_F(RealtimeClientV2Test, BuildsOptionsFromTheOlderConfiguration) {
  Client::Configuration configuration{boost::urls::url("https://h.example/realtime/v1"),
                                      "key",
                                      {{"X-Trace", "1"}},
                                      Seconds(25),
                                      Seconds(7),
                                      Seconds(10)};
  const auto options = Client::optionsFrom(configuration);
  EXPECT_EQ(options.heartbeatInterval, Seconds(25));
  EXPECT_EQ(options.reconnectDelay, Seconds(7));
  EXPECT_EQ(options.timeoutInterval, Seconds(10));
  EXPECT_EQ(options.maxRetryAttempts, 5);
  EXPECT_FALSE(options.logLevel || options.fetch || options.accessToken);
  EXPECT_EQ(options.headers.get(apiKeyFieldName()), "key");
  configuration.headers["apikey"] = "from-headers";
  EXPECT_EQ(Client::optionsFrom(configuration).headers.get(apiKeyFieldName()), "from-headers");
}

// --- Connecting.

TEST_F(RealtimeClientV2Test, OpensOneSocketWithTheHeadersAndReturnsOnceConnected) {
  makeClient();
  EXPECT_EQ(client_->status(), RealtimeClientStatus::disconnected);
  EXPECT_EQ(transport_->attempts(), 0);  // nothing before the first connect
  Recorder<RealtimeClientStatus> statuses;
  auto token = client_->onStatusChange(statuses.listener());
  connected();
  client_->connect();  // connected: returns at once
  EXPECT_EQ(transport_->attempts(), 1);
  EXPECT_EQ(client_->status(), RealtimeClientStatus::connected);
  EXPECT_EQ(transport_->lastURL()->buffer(),
            "wss://project.example/realtime/v1/websocket?apikey=anon-key&vsn=1.0.0");
  EXPECT_EQ(transport_->lastHeaders()->at("X-Client-Info"), "realtime-cpp/" + std::string(version));
  ASSERT_TRUE(statuses.waitFor(RealtimeClientStatus::connected));
  EXPECT_EQ(statuses.values(),
            (std::vector<RealtimeClientStatus>{RealtimeClientStatus::disconnected,
                                               RealtimeClientStatus::connecting,
                                               RealtimeClientStatus::connected}));
  EXPECT_TRUE(eventually([&] { return logger_->contains("Connected to realtime WebSocket"); }));
}

TEST_F(RealtimeClientV2Test, KeepsRetryingInOneLoopWhileTheServerRefuses) {
  makeClient();
  transport_->failNext(3);
  Task<void> connecting([client = client_] { client->connect(); });
  for (int attempt = 1; attempt <= 3; ++attempt) {
    ASSERT_TRUE(eventually([&] { return transport_->attempts() == attempt; }));
    advanceWhenSleeping(7s);
  }
  connecting.value();
  EXPECT_EQ(transport_->attempts(), 4);
  EXPECT_EQ(transport_->sockets().size(), 1u);
  EXPECT_EQ(logger_->count("WebSocket error connection refused. Trying again in 7.0"), 3u);
  // Each wait was the reconnect delay, and no attempt ran beside another.
  const auto waits = sleeper_->intervals();
  EXPECT_EQ(std::count(waits.begin(), waits.end(), 7.0), 3);
}

TEST_F(RealtimeClientV2Test, ReconnectsAfterAServerCloseEvenWithANormalCode) {
  makeClient();
  auto first = connected();
  first->serverClose(1000, "bye");
  ASSERT_TRUE(eventually([&] { return client_->status() == RealtimeClientStatus::disconnected; }));
  EXPECT_TRUE(logger_->contains("WebSocket closed. Code: 1000, Reason: bye"));
  advanceWhenSleeping(7s);
  ASSERT_NE(transport_->waitForSocket(2), nullptr);
  ASSERT_TRUE(eventually([&] { return client_->status() == RealtimeClientStatus::connected; }));
}

TEST_F(RealtimeClientV2Test, ReconnectsAfterAFrameItCannotRead) {
  makeClient();
  auto first = connected();
  first->receive(R"({"topic":"x","event":"y"})");
  ASSERT_TRUE(eventually([&] { return client_->status() == RealtimeClientStatus::disconnected; }));
  // The socket is closed just after the status says so.
  EXPECT_TRUE(eventually([&] { return first->closedWith().has_value(); }));
  advanceWhenSleeping(7s);
  EXPECT_NE(transport_->waitForSocket(2), nullptr);
}

TEST_F(RealtimeClientV2Test, IgnoresBinaryFrames) {
  makeClient();
  auto socket = connected();
  socket->receiveBinary("\x01");
  ASSERT_TRUE(eventually([&] { return logger_->contains("Unsupported binary event received."); }));
  EXPECT_EQ(client_->status(), RealtimeClientStatus::connected);
}

TEST_F(RealtimeClientV2Test, DisconnectClosesWithTheCallersCodeAndDoesNotReconnect) {
  makeClient();
  client_->disconnect();  // never connected: nothing to close
  EXPECT_EQ(client_->status(), RealtimeClientStatus::disconnected);
  auto socket = connected();
  client_->disconnect(1000, "done");
  EXPECT_EQ(socket->closedWith(),
            std::make_pair(std::optional(1000), std::optional<std::string>("done")));
  EXPECT_EQ(client_->status(), RealtimeClientStatus::disconnected);
  EXPECT_EQ(client_->mutableState().ref, 0);
  ASSERT_TRUE(eventually([&] { return sleeper_->sleeping() == 0; }));  // no reconnect waits
  EXPECT_EQ(transport_->attempts(), 1);
}

TEST_F(RealtimeClientV2Test, ADisconnectDuringTheReconnectWaitCancelsIt) {
  makeClient();
  connected()->serverClose(4000, "restart");
  ASSERT_TRUE(sleeper_->waitForSleep(7));
  client_->disconnect();
  ASSERT_TRUE(eventually([&] { return logger_->contains("Reconnect cancelled, returning"); }));
  EXPECT_EQ(transport_->attempts(), 1);
}

// --- Sending.

TEST_F(RealtimeClientV2Test, SendsPushesMadeBeforeConnectingInOrderOnceOpen) {
  makeClient();
  for (std::string event : {"a", "b", "c"}) {
    client_->push({std::nullopt, client_->makeRef(), "realtime:t", event, {}});
  }
  EXPECT_EQ(client_->mutableState().sendBuffer.size(), 3u);
  auto socket = connected();
  client_->push({std::nullopt, client_->makeRef(), "realtime:t", "d", {}});
  const auto frames = socket->sentFrames();
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0].at("event"), "a");
  EXPECT_EQ(frames[2].at("ref"), "3");
  EXPECT_EQ(frames[3].at("event"), "d");
  EXPECT_TRUE(client_->mutableState().sendBuffer.empty());
}

TEST_F(RealtimeClientV2Test, StartsReferencesAgainAfterADisconnect) {
  makeClient();
  EXPECT_EQ(client_->makeRef(), "1");
  EXPECT_EQ(client_->makeRef(), "2");
  client_->disconnect();
  EXPECT_EQ(client_->makeRef(), "1");
}

TEST_F(RealtimeClientV2Test, KeepsAPushOnADeadSocketForTheNextConnection) {
  makeClient();
  auto first = connected();
  first->die();  // closed, but its close event never came
  client_->push({std::nullopt, "9", "realtime:t", "late", {}});
  EXPECT_EQ(first->countEvents("late"), 0u);
  EXPECT_EQ(client_->mutableState().sendBuffer.size(), 1u);
  client_->disconnect();
  auto second = connected(2);
  EXPECT_FALSE(second->waitForEvent("late").empty());
}

TEST_F(RealtimeClientV2Test, LogsAndDropsAPushFromACancelledTask) {
  makeClient();
  Task<void> pusher([client = client_] {
    try {
      this_task::never();
    } catch (const CancellationError&) {
    }
    // From a task that is cancelled now; the log shows the message, never its token.
    client->push({std::nullopt,
                  "1",
                  "t",
                  "e",
                  {{"access_token", "jwt-secret"},
                   {"config", JSONObject{{"secret", "s-secret"}}},
                   {"link", "https://h/o?token=u-secret&size=2"}}});
  });
  pusher.cancel();
  pusher.value();
  EXPECT_TRUE(client_->mutableState().sendBuffer.empty());
  EXPECT_TRUE(logger_->contains("Failed to send message:"));
  EXPECT_TRUE(logger_->contains("<redacted>"));
  EXPECT_FALSE(logger_->contains("jwt-secret"));
  EXPECT_FALSE(logger_->contains("s-secret"));
  EXPECT_FALSE(logger_->contains("u-secret"));
  EXPECT_TRUE(logger_->contains("size=2"));
}

// --- Heartbeat.

TEST_F(RealtimeClientV2Test, BeatsEveryIntervalAndReconnectsWhenABeatGoesUnanswered) {
  makeClient();
  Recorder<HeartbeatStatus> beats;
  auto token = client_->onHeartbeat(beats.listener());
  auto socket = connected();
  advanceWhenSleeping(25s);
  const auto beat = socket->waitForEvent("heartbeat");
  EXPECT_EQ(beat.at("topic"), "phoenix");
  EXPECT_EQ(beat.at("ref"), "1");
  EXPECT_FALSE(beat.contains("join_ref"));
  ASSERT_TRUE(beats.waitFor(HeartbeatStatus::sent));
  advanceWhenSleeping(25s);
  ASSERT_TRUE(beats.waitFor(HeartbeatStatus::timeout));
  EXPECT_TRUE(logger_->contains("Heartbeat timeout"));
  ASSERT_TRUE(eventually([&] { return socket->closedWith().has_value(); }));
  advanceWhenSleeping(7s);
  ASSERT_NE(transport_->waitForSocket(2), nullptr);
  // The lost beat belonged to the old connection: the new one starts clean.
  EXPECT_EQ(client_->mutableState().pendingHeartbeatRef, std::nullopt);
}

TEST_F(RealtimeClientV2Test, PublishesTheReplyStatusOfEachBeat) {
  makeClient();
  Recorder<HeartbeatStatus> beats;
  auto token = client_->onHeartbeat(beats.listener());
  auto socket = connected();
  socket->respond([](const json::object& frame) -> std::vector<std::string> {
    return {testing::replyTo(frame, "error")};
  });
  advanceWhenSleeping(25s);
  ASSERT_TRUE(beats.waitFor(HeartbeatStatus::error));
  ASSERT_TRUE(eventually([&] { return !client_->mutableState().pendingHeartbeatRef; }));
  EXPECT_TRUE(logger_->contains("heartbeat received"));
  socket->respond([](const json::object& frame) -> std::vector<std::string> {
    return {testing::replyTo(frame, "ok")};
  });
  advanceWhenSleeping(25s);
  ASSERT_TRUE(beats.waitFor(HeartbeatStatus::ok));
  EXPECT_EQ(client_->status(), RealtimeClientStatus::connected);
}

TEST_F(RealtimeClientV2Test, KeepsTheStoredTokenOnBeatsWithoutATokenFunction) {
  makeClient();
  auto socket = connected();
  socket->respond(testing::friendlyServer());
  advanceWhenSleeping(25s);
  socket->waitForEvent("heartbeat");
  ASSERT_TRUE(eventually([&] { return !client_->mutableState().pendingHeartbeatRef; }));
  EXPECT_EQ(client_->accessToken(), "anon-key");
}

TEST_F(RealtimeClientV2Test, AsksTheTokenFunctionOnEveryBeat) {
  auto options = this->options();
  auto calls = std::make_shared<std::atomic<int>>(0);
  options.accessToken = [calls] {
    return std::optional<std::string>("token-" + std::to_string(++*calls));
  };
  makeClient(options);
  connected()->respond(testing::friendlyServer());
  advanceWhenSleeping(25s);
  ASSERT_TRUE(eventually([&] { return client_->accessToken() == "token-1"; }));
}

// --- A disconnect or release during a reconnect.

// On the (skip + 1)-th line that starts with its text, the logger releases the client or
// disconnects it; it counts the lines it gets after a release.
class ActingLogger final : public VoduzaziLogger {
 public:
  enum class Action { release, disconnect };
  ActingLogger(Action action, std::string line, int skip = 0)
      : action_(action), line_(std::move(line)), skip_(skip) {}

  using VoduzaziLogger::log;
  void log(const VoduzaziLogMessage& message) override {
    std::shared_ptr<Client> client;
    {
      std::lock_guard lock(mutex_);
      if (released_) ++late_;
      if (acted_ || !message.message.starts_with(line_) || skip_-- > 0) return;
      acted_ = true;
      client = action_ == Action::release ? std::move(held_) : watched_.lock();
    }
    if (action_ == Action::disconnect) {
      if (client) client->disconnect();
      return;
    }
    client.reset();  // the release: lines that were under way in other tasks end before it does
    std::lock_guard lock(mutex_);
    released_ = true;
  }
  // Released: the client's only reference. Disconnected: the client, held weakly.
  void take(std::shared_ptr<Client> client) {
    std::lock_guard lock(mutex_);
    watched_ = client;
    if (action_ == Action::release) held_ = std::move(client);
  }
  bool acted() const {
    std::lock_guard lock(mutex_);
    return acted_;
  }
  int late() const {
    std::lock_guard lock(mutex_);
    return late_;
  }

 private:
  const Action action_;
  const std::string line_;
  mutable std::mutex mutex_;
  int skip_;
  std::shared_ptr<Client> held_;
  std::weak_ptr<Client> watched_;
  bool acted_ = false;
  bool released_ = false;
  int late_ = 0;
};

// Passes every line on to `next`, and holds the line that starts with its text for the
// (skip + 1)-th time, on the thread that logs it, until release() (10 s at most).
class HoldingLogger final : public VoduzaziLogger {
 public:
  HoldingLogger(std::string line, std::shared_ptr<VoduzaziLogger> next, int skip = 0)
      : line_(std::move(line)), next_(std::move(next)), skip_(skip) {}

  using VoduzaziLogger::log;
  void log(const VoduzaziLogMessage& message) override {
    next_->log(message);
    std::unique_lock lock(mutex_);
    if (stage_ != Stage::waiting || !message.message.starts_with(line_) || skip_-- > 0) return;
    stage_ = Stage::holding;
    changed_.notifyAll();
    // A runtime wait: the held task counts as waiting, so moving the test clock meanwhile does
    // not wait for it.
    changed_.waitUntil(lock, std::stop_token(), std::chrono::steady_clock::now() + 10s,
                       [&] { return stage_ == Stage::released; });
  }
  bool waitUntilHolding() {
    std::unique_lock lock(mutex_);
    return changed_.waitUntil(lock, std::stop_token(), std::chrono::steady_clock::now() + 10s,
                              [&] { return stage_ != Stage::waiting; });
  }
  void release() {
    std::lock_guard lock(mutex_);
    stage_ = Stage::released;
    changed_.notifyAll();
  }

 private:
  enum class Stage { waiting, holding, released };
  const std::string line_;
  const std::shared_ptr<VoduzaziLogger> next_;
  std::mutex mutex_;
  voduzazi::detail::WaitQueue changed_;
  int skip_;
  Stage stage_ = Stage::waiting;
};

// What makes the client reconnect.
enum class Cause { unansweredBeat, serverClose, unreadableFrame, refusedOpen };

class RealtimeClientV2Reconnect : public testing::RealtimeV2Test {
 protected:
  void provoke(Cause cause, FakeWebSocket& socket) {
    switch (cause) {
      case Cause::unansweredBeat:
        advanceWhenSleeping(25s);
        socket.waitForEvent("heartbeat");
        advanceWhenSleeping(25s);
        break;
      case Cause::serverClose:
        socket.serverClose(4000, "restart");
        break;
      case Cause::unreadableFrame:
        socket.receive("{");
        break;
      case Cause::refusedOpen:  // the next attempt, after a server close
        transport_->failNext(1);
        socket.serverClose(4000, "restart");
        advanceWhenSleeping(7s);
        break;
    }
  }

  // The connection's tasks all end (a reconnect would wait on the test clock), and the
  // caller's connect() opens the next connection at once.
  void expectItStaysDisconnected() {
    const auto ended = [](const std::optional<Task<void>>& task) {
      return !task || task->isFinished();
    };
    ASSERT_TRUE(eventually([&] {
      const auto state = client_->mutableState();
      return ended(state.heartbeatTask) && ended(state.messageTask) &&
             ended(state.connectionTask);
    })) << "a reconnect of its own waits";
    EXPECT_EQ(client_->status(), RealtimeClientStatus::disconnected);
    const int attempts = transport_->attempts();
    Task<void> connecting([client = client_] { client->connect(); });
    EXPECT_TRUE(eventually([&] { return connecting.isFinished(); }));
    EXPECT_EQ(transport_->attempts(), attempts + 1);
    EXPECT_EQ(client_->status(), RealtimeClientStatus::connected);
  }
};

// A cause of a reconnect and a line the reconnect logs on its way.
struct ReconnectLine {
  const char* name;
  Cause cause;
  const char* line;
  friend void PrintTo(const ReconnectLine& line, std::ostream* out) { *out << line.name; }
};

class RealtimeClientV2FromTheLogger
    : public RealtimeClientV2Reconnect,
      public ::testing::WithParamInterface<std::tuple<ReconnectLine, ActingLogger::Action>> {};

// Released there, the client calls nothing of the caller's afterwards; disconnected there, it
// does not reconnect by itself.
TEST_P(RealtimeClientV2FromTheLogger, StopsOrStaysDisconnected) {
  const auto [reconnect, action] = GetParam();
  auto logger = std::make_shared<ActingLogger>(action, reconnect.line);
  auto options = this->options();
  options.logger = logger;
  makeClient(options);
  auto socket = connected();
  const std::weak_ptr<Client> weak = client_;
  logger->take(action == ActingLogger::Action::release ? std::move(client_) : client_);
  provoke(reconnect.cause, *socket);
  ASSERT_TRUE(eventually([&] { return logger->acted(); }));
  if (action == ActingLogger::Action::disconnect) return expectItStaysDisconnected();
  const int attempts = transport_->attempts();
  ASSERT_TRUE(eventually([&] { return weak.expired(); }));
  EXPECT_EQ(logger->late(), 0);
  EXPECT_EQ(transport_->attempts(), attempts);
}

INSTANTIATE_TEST_SUITE_P(
    OnEachLineOfAReconnect, RealtimeClientV2FromTheLogger,
    ::testing::Combine(
        ::testing::Values(
            ReconnectLine{"HeartbeatTimeout", Cause::unansweredBeat, "Heartbeat timeout"},
            ReconnectLine{"ClosingAfterABeat", Cause::unansweredBeat, "Closing WebSocket"},
            ReconnectLine{"WebSocketClosed", Cause::serverClose, "WebSocket closed. Code: 4000"},
            ReconnectLine{"ClosingAfterAClose", Cause::serverClose, "Closing WebSocket"},
            ReconnectLine{"UnreadableFrameError", Cause::unreadableFrame, "WebSocket error "},
            ReconnectLine{"ClosingAfterAFrame", Cause::unreadableFrame, "Closing WebSocket"},
            ReconnectLine{"RefusedOpenError", Cause::refusedOpen,
                          "WebSocket error connection refused"}),
        ::testing::Values(ActingLogger::Action::release, ActingLogger::Action::disconnect)),
    [](const auto& info) {
      const bool release = std::get<1>(info.param) == ActingLogger::Action::release;
      return (release ? "Release" : "Disconnect") + std::string(std::get<0>(info.param).name);
    });

// The app's case: its UI disconnects while a heartbeat time-out is reconnecting. The disconnect
// returns while the reconnect is inside its own "Closing WebSocket connection" line.
TEST_F(RealtimeClientV2Reconnect, ADisconnectFromAnotherThreadEndsTheReconnectItOvertakes) {
  auto logger = std::make_shared<HoldingLogger>("Closing WebSocket connection", logger_);
  auto options = this->options();
  options.logger = logger;
  makeClient(options);
  auto socket = connected();
  provoke(Cause::unansweredBeat, *socket);
  ASSERT_TRUE(logger->waitUntilHolding());
  client_->disconnect();
  logger->release();
  expectItStaysDisconnected();
}

// A disconnect as the reconnect opens: the rejoin of that connection ends instead of connecting
// the client again.
TEST_F(RealtimeClientV2Reconnect, ARejoinAfterADisconnectDoesNotConnect) {
  auto logger = std::make_shared<HoldingLogger>("Connected to realtime WebSocket", logger_, 1);
  auto options = this->options();
  options.logger = logger;
  makeClient(options);
  auto room = joined("room");
  provoke(Cause::serverClose, *transport_->waitForSocket(1));
  advanceWhenSleeping(7s);
  ASSERT_TRUE(logger->waitUntilHolding());  // the second connection, before its rejoin starts
  client_->disconnect();
  logger->release();
  const auto ended = [&] {
    return logger_->contains("Rejoin of channel realtime:room ended: the client disconnected");
  };
  ASSERT_TRUE(eventually([&] { return ended() || transport_->attempts() > 2; }));
  EXPECT_EQ(transport_->attempts(), 2);
  EXPECT_TRUE(ended());
  EXPECT_EQ(client_->status(), RealtimeClientStatus::disconnected);
}

// --- A connect() whose attempt a disconnect ended; cancelling outside the client's lock.

// A transport over the fake one whose openings wait until let go (10 s at most), as a slow
// handshake does. One that honours cancellation ends once its task is cancelled, throwing
// CancellationError as the library's socket does; its stop callback may read a client.
class HeldOpenings : public std::enable_shared_from_this<HeldOpenings> {
 public:
  HeldOpenings(const std::shared_ptr<testing::FakeTransport>& inner, bool honoursCancellation)
      : inner_(inner->function()), honoursCancellation_(honoursCancellation) {}

  Client::WebSocketTransport function() {
    return
        [self = shared_from_this()](const boost::urls::url& url, const HeaderDictionary& headers) {
          return self->open(url, headers);
        };
  }
  // From the stop callback of each opening, reads `client` on another thread and waits 2 s for
  // the read, so that a callback that would wait for ever fails the test instead.
  void readOnCancel(Client* client) {
    std::lock_guard lock(mutex_);
    reader_ = client;
  }
  bool waitUntilOpening() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return openings_ > 0; });
  }
  // This opening and every later one go on.
  void letGo() {
    std::lock_guard lock(mutex_);
    letGo_ = true;
    changed_.notify_all();
  }
  // The reads made from stop callbacks, and how many of them returned within 2 s.
  std::pair<int, int> reads() const {
    std::lock_guard lock(mutex_);
    return {static_cast<int>(reads_.size()), readsInTime_};
  }

 private:
  std::shared_ptr<realtime::WebSocket> open(const boost::urls::url& url,
                                            const HeaderDictionary& headers) {
    const std::stop_token stop = honoursCancellation_ ? this_task::stopToken() : std::stop_token();
    {
      // The opening goes on only once its stop callback has run: woken by the stop itself, it
      // could end the callback's registration before the stop got to call it.
      bool stopped = false;  // guarded by mutex_
      std::stop_callback onStop(stop, [this, &stopped] {
        readClient();
        std::lock_guard lock(mutex_);
        stopped = true;
        changed_.notify_all();
      });
      std::unique_lock lock(mutex_);
      ++openings_;
      changed_.notify_all();
      changed_.wait_for(lock, 10s, [&] { return letGo_ || stopped; });
    }
    std::vector<Task<void>> reads;
    {
      std::lock_guard lock(mutex_);
      reads = reads_;
    }
    for (const auto& read : reads) read.value();  // the client outlives them
    if (stop.stop_requested()) throw CancellationError();
    return inner_(url, headers);
  }

  void readClient() {
    Client* client = nullptr;
    {
      std::lock_guard lock(mutex_);
      client = reader_;
    }
    if (!client) return;
    Task<void> read = Task<void>::detached([client] { client->mutableState(); });
    const bool inTime = eventually([&] { return read.isFinished(); }, 2s);
    std::lock_guard lock(mutex_);
    reads_.push_back(read);
    if (inTime) ++readsInTime_;
  }

  const Client::WebSocketTransport inner_;
  const bool honoursCancellation_;
  mutable std::mutex mutex_;
  std::condition_variable_any changed_;
  int openings_ = 0;
  bool letGo_ = false;
  Client* reader_ = nullptr;
  std::vector<Task<void>> reads_;
  int readsInTime_ = 0;
};

class RealtimeClientV2WaitingConnect : public RealtimeClientV2Reconnect {
 protected:
  enum class Outcome { waiting, connected, cancelled };

  // A client whose openings wait in `held`.
  void makeClientOver(const std::shared_ptr<HeldOpenings>& held, RealtimeClientOptions options) {
    held_ = held;
    client_ = Client::make(boost::urls::url("https://project.example/realtime/v1"),
                           std::move(options), held->function(), http_);
  }
  // connect() on a task of its own. It holds the client object as the client's own tasks do,
  // not a reference that make() handed out, so that a release still ends it.
  void startConnect() {
    connecting_.emplace([client = client_->shared_from_this(), outcome = outcome_] {
      try {
        client->connect();
        *outcome = Outcome::connected;
      } catch (const CancellationError&) {
        *outcome = Outcome::cancelled;
      }
    });
  }
  // connect() returned within 2 s. If not, the test fails, and the release ends that connect().
  ::testing::AssertionResult connectReturns() {
    if (eventually([&] { return connecting_->isFinished(); }, 2s)) {
      return ::testing::AssertionSuccess();
    }
    const auto status = client_->status();
    if (held_) held_->letGo();
    client_.reset();
    connecting_->value();
    return ::testing::AssertionFailure()
           << "connect() still waits 2 s after the disconnect; the status is " << toString(status);
  }

  std::shared_ptr<HeldOpenings> held_;
  std::optional<Task<void>> connecting_;
  const std::shared_ptr<std::atomic<Outcome>> outcome_ =
      std::make_shared<std::atomic<Outcome>>(Outcome::waiting);
};

// The socket opens after the disconnect and goes unused; the connect() waiting for it ends.
TEST_F(RealtimeClientV2WaitingConnect, ADisconnectFromAnotherThreadWhileTheSocketOpensEndsIt) {
  makeClientOver(std::make_shared<HeldOpenings>(transport_, false), options());
  startConnect();
  ASSERT_TRUE(held_->waitUntilOpening());
  client_->disconnect();
  ASSERT_TRUE(connectReturns());
  EXPECT_EQ(outcome_->load(), Outcome::cancelled);
  held_->letGo();
  const auto unused = transport_->waitForSocket(1);
  ASSERT_NE(unused, nullptr);
  EXPECT_TRUE(eventually([&] { return unused->closedWith().has_value(); }));
  expectItStaysDisconnected();
}

// The logger disconnects on the second failed open: the connect() waiting through them ends.
TEST_F(RealtimeClientV2WaitingConnect, ADisconnectFromTheLoggerWhileOpensFailEndsIt) {
  auto logger = std::make_shared<ActingLogger>(
      ActingLogger::Action::disconnect, "WebSocket error connection refused. Trying again in", 1);
  auto options = this->options();
  options.logger = logger;
  makeClient(options);
  logger->take(client_);
  transport_->failNext(2);
  startConnect();
  advanceWhenSleeping(7s);
  ASSERT_TRUE(eventually([&] { return logger->acted(); }));
  ASSERT_TRUE(connectReturns());
  EXPECT_EQ(outcome_->load(), Outcome::cancelled);
  EXPECT_EQ(transport_->attempts(), 2);
  expectItStaysDisconnected();
}

class RealtimeClientV2CancelledOpening : public RealtimeClientV2WaitingConnect,
                                         public ::testing::WithParamInterface<bool> {};

// An opening that honours cancellation, with a stop callback that reads the client: the
// disconnect or the release cancels it once the client's lock is free.
TEST_P(RealtimeClientV2CancelledOpening, LetsTheOpeningsStopCallbackReadTheClient) {
  const bool release = GetParam();
  makeClientOver(std::make_shared<HeldOpenings>(transport_, true), options());
  held_->readOnCancel(client_.get());
  startConnect();
  ASSERT_TRUE(held_->waitUntilOpening());
  if (release) {
    client_.reset();
  } else {
    client_->disconnect();
  }
  EXPECT_EQ(held_->reads(), std::make_pair(1, 1)) << "the stop callback waited for the client";
  if (release) {
    ASSERT_TRUE(eventually([&] { return connecting_->isFinished(); }));
  } else {
    ASSERT_TRUE(connectReturns());
    held_->letGo();
    expectItStaysDisconnected();
  }
  EXPECT_EQ(outcome_->load(), Outcome::cancelled);
}

INSTANTIATE_TEST_SUITE_P(DisconnectOrRelease, RealtimeClientV2CancelledOpening, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Release" : "Disconnect"; });

// Holds the task that logs its line until that task is cancelled (10 s at most); the
// cancellation runs `onCancel` on the cancelling thread. Every line goes on to `next`.
class CancelledLineLogger final : public VoduzaziLogger {
 public:
  CancelledLineLogger(std::string line, std::shared_ptr<VoduzaziLogger> next,
                      std::function<void()> onCancel)
      : line_(std::move(line)), next_(std::move(next)), onCancel_(std::move(onCancel)) {}

  using VoduzaziLogger::log;
  void log(const VoduzaziLogMessage& message) override {
    next_->log(message);
    {
      std::lock_guard lock(mutex_);
      if (claimed_ || !message.message.starts_with(line_)) return;
      claimed_ = true;
    }
    std::stop_callback onStop(this_task::stopToken(), onCancel_);  // before anyone can cancel
    std::unique_lock lock(mutex_);
    holding_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, this_task::stopToken(), 10s, [] { return false; });
  }
  bool waitUntilHolding() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 10s, [&] { return holding_; });
  }

 private:
  const std::string line_;
  const std::shared_ptr<VoduzaziLogger> next_;
  const std::function<void()> onCancel_;
  std::mutex mutex_;
  std::condition_variable_any changed_;
  bool claimed_ = false;
  bool holding_ = false;
};

// The disconnect cancels the connection task first. Its stop callback makes the server close,
// which the receive task, not yet cancelled, takes for a reconnect: it finds the disconnect
// recorded, and stands down.
TEST_F(RealtimeClientV2Reconnect, AReconnectWhileTheDisconnectCancelsDoesNotUndoIt) {
  std::optional<Task<void>> receiving;
  bool handled = false;
  auto logger =
      std::make_shared<CancelledLineLogger>("Connected to realtime WebSocket", logger_, [&] {
        const auto sockets = transport_->sockets();
        ASSERT_FALSE(sockets.empty()) << "connected without a socket";
        sockets.front()->serverClose(4000, "restart");
        handled = eventually([&] { return receiving->isFinished(); }, 2s);
      });
  auto options = this->options();
  options.logger = logger;
  makeClient(options);
  Task<void> connecting([client = client_] { client->connect(); });
  ASSERT_TRUE(logger->waitUntilHolding());
  receiving = client_->mutableState().messageTask;
  ASSERT_TRUE(receiving);
  client_->disconnect();
  EXPECT_TRUE(handled) << "the receive task waited for the disconnect to cancel it";
  EXPECT_TRUE(logger_->contains("WebSocket closed. Code: 4000"));
  connecting.value();
  expectItStaysDisconnected();
}

// --- Access token and channels.

TEST_F(RealtimeClientV2Test, SendsAChangedTokenOnceToSubscribedChannelsOnly) {
  makeClient();
  auto room = joined("room");
  auto idle = client_->channel("idle");
  auto socket = transport_->waitForSocket(1);
  client_->setAuth("t1");
  client_->setAuth("t1");
  EXPECT_EQ(socket->countEvents("access_token"), 1u);
  const auto sent = socket->waitForEvent("access_token");
  EXPECT_EQ(sent.at("topic"), "realtime:room");
  EXPECT_EQ(sent.at("payload").at("access_token"), "t1");
  client_->setAuth(std::nullopt);  // no token function: the token goes, and null is sent
  EXPECT_EQ(client_->accessToken(), std::nullopt);
  EXPECT_TRUE(socket->waitForEvent("access_token", 1).at("payload").at("access_token").is_null());
}

TEST_F(RealtimeClientV2Test, StoresATokenWithoutAnyChannelAndWithoutConnecting) {
  auto options = this->options();
  options.accessToken = []() -> std::optional<std::string> { throw std::runtime_error("no"); };
  makeClient(options);
  client_->setAuth("t1");
  EXPECT_EQ(client_->accessToken(), "t1");
  client_->setAuth();  // the failing function counts as no token
  EXPECT_EQ(client_->accessToken(), std::nullopt);
  EXPECT_EQ(transport_->attempts(), 0);
}

TEST_F(RealtimeClientV2Test, GivesOneChannelPerNameAndConfiguresItOnce) {
  makeClient();
  int edits = 0;
  auto first = client_->channel("room", [&](RealtimeChannelConfig& config) {
    ++edits;
    config.isPrivate = true;
  });
  auto second = client_->channel("room", [&](RealtimeChannelConfig&) { ++edits; });
  EXPECT_EQ(first, second);
  EXPECT_EQ(edits, 1);
  EXPECT_EQ(first->topic(), "realtime:room");
  EXPECT_TRUE(first->config().isPrivate);
  EXPECT_EQ(client_->channels().size(), 1u);
}

TEST_F(RealtimeClientV2Test, RemovingTheLastChannelLeavesItAndClosesTheSocket) {
  makeClient();
  auto room = joined("room");
  auto lobby = joined("lobby");
  auto socket = transport_->waitForSocket(1);
  client_->removeChannel(room);
  EXPECT_EQ(room->status(), RealtimeChannelStatus::unsubscribed);
  EXPECT_EQ(client_->channels().size(), 1u);
  EXPECT_FALSE(socket->closedWith());
  auto unjoined = client_->channel("never");
  client_->removeAllChannels();
  EXPECT_TRUE(client_->channels().empty());
  EXPECT_EQ(socket->countEvents("phx_leave"), 2u);  // the unjoined channel sends nothing
  EXPECT_TRUE(socket->closedWith());
  EXPECT_EQ(client_->status(), RealtimeClientStatus::disconnected);
  EXPECT_TRUE(logger_->contains("No more subscribed channel in socket"));
}

TEST_F(RealtimeClientV2Test, RemovingAChannelWhileDisconnectedDoesNotWaitForTheServer) {
  makeClient();
  auto room = joined("room");
  transport_->waitForSocket(1)->serverClose(1006, "gone");
  ASSERT_TRUE(sleeper_->waitForSleep(7));  // the reconnect waits
  client_->removeChannel(room);            // returns without the clock moving
  EXPECT_EQ(room->status(), RealtimeChannelStatus::unsubscribed);
  EXPECT_TRUE(client_->channels().empty());
  ASSERT_TRUE(eventually([&] { return logger_->contains("Reconnect cancelled, returning"); }));
}

TEST_F(RealtimeClientV2Test, ReleasingTheClientStopsItsTasks) {
  makeClient();
  auto socket = connected();
  std::weak_ptr<Client> weak = client_;
  auto channel = client_->channel("room");
  ASSERT_TRUE(sleeper_->waitForSleep(25));  // the heartbeat
  client_.reset();
  // The connection task may still hold the client for the last steps of its attempt.
  ASSERT_TRUE(eventually([&] { return weak.expired(); }));
  ASSERT_TRUE(eventually([&] { return sleeper_->sleeping() == 0; }));
  EXPECT_EQ(channel->socket(), nullptr);
  EXPECT_EQ(channel->push("x"), PushStatus::error);
  EXPECT_THROW(channel->subscribeWithError(), RealtimeError);
}

TEST_F(RealtimeClientV2Test, ReleasingTheClientEndsTheSubscribesUnderWay) {
  makeClient();
  auto socket = connected();
  auto room = client_->channel("room");
  // The server never answers the join; the test clock never reaches its deadline.
  std::optional<std::string> error;
  Task<void> subscribing([room, &error] {
    try {
      room->subscribeWithError();
    } catch (const RealtimeError& thrown) {
      error = thrown.what();
    }
  });
  socket->waitForEvent("phx_join");
  client_.reset();
  ASSERT_TRUE(eventually([&] { return subscribing.isFinished(); }));
  EXPECT_EQ(error, "The realtime client of channel realtime:room was released.");
  EXPECT_EQ(room->status(), RealtimeChannelStatus::unsubscribed);
}

}  // namespace
}  // namespace voduzazi::realtime
