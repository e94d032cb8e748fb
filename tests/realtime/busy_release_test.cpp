// Both realtime clients released while events flow (the server broadcasting, heartbeats due, a
// reconnect under way, broadcasts over HTTP being sent), the second generation also during an
// opening handshake, and both from inside their own listeners and callbacks: once the release
// returns, nothing the client started calls what the caller passed in (logger, fetch and token
// functions, transport factory, listeners and callbacks), no release deadlocks, and the threads
// go back to idle.
#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/json/array.hpp>
#include <atomic>
#include <boost/json/object.hpp>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "local_backend/realtime_service.hpp"
#include "local_backend/server.hpp"
#include "tests/realtime/resource_counts.hpp"
#include "tests/realtime/silent_listener.hpp"
#include "tests/support/checked_list.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/platform/url_session.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"
#include "voduzazi/realtime/realtime_channel_v2.hpp"
#include "voduzazi/realtime/realtime_client.hpp"
#include "voduzazi/realtime/realtime_client_v2.hpp"

namespace voduzazi::realtime {
namespace {

using namespace std::chrono_literals;
using voduzazi::testing::eventually;
using voduzazi::testing::expectReleasedAfter;
using voduzazi::testing::firstOf;

constexpr int kRounds = 50;

// Where everything the caller passed in reports. Calls after release() count as late.
// Shared objects: safe.
class CallerCalls {
 public:
  void called(const std::string& what) {
    {
      std::lock_guard lock(mutex_);
      if (released_) {
        late_.push_back(what);
      } else {
        ++counts_[what];
      }
    }
    changed_.notify_all();
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
  }
  int count(const std::string& what) const {
    std::lock_guard lock(mutex_);
    const auto found = counts_.find(what);
    return found == counts_.end() ? 0 : found->second;
  }
  // Every count so far, for failure messages.
  std::string counts() const {
    std::lock_guard lock(mutex_);
    std::string listed;
    for (const auto& [what, count] : counts_) listed += " " + what + " x" + std::to_string(count);
    return listed;
  }
  std::vector<std::string> late() const {
    std::lock_guard lock(mutex_);
    return late_;
  }
  // Waits until `what` was called `count` times in all.
  bool waitFor(const std::string& what, int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 30s, [&] { return counts_[what] >= count; });
  }
  // Waits up to `limit` for a change of any count.
  void waitForAnyCall(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit);
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  bool released_ = false;
  std::map<std::string, int> counts_;
  std::vector<std::string> late_;
};

class CountingLogger final : public VoduzaziLogger {
 public:
  explicit CountingLogger(std::shared_ptr<CallerCalls> calls) : calls_(std::move(calls)) {}
  using VoduzaziLogger::log;
  void log(const VoduzaziLogMessage&) override { calls_->called("logger"); }

 private:
  const std::shared_ptr<CallerCalls> calls_;
};

// Keeps broadcasts to realtime:room flowing from the server, a few ahead of what the client has
// heard, until stopped. Broadcasts sent while the client reconnects (a heartbeat missed under
// load) are lost: when nothing is heard for 200 ms, those in flight count as lost.
class BroadcastPump {
 public:
  BroadcastPump(local_backend::Server& server, std::shared_ptr<CallerCalls> calls,
                std::string heard)
      : task_([&server, calls = std::move(calls), heard = std::move(heard),
               stop = stop_](std::stop_token) {
          int sent = 0;  // not counting those known lost
          int lastHeard = 0;
          auto lastProgress = std::chrono::steady_clock::now();
          while (!*stop) {
            const int nowHeard = calls->count(heard);
            const auto now = std::chrono::steady_clock::now();
            if (nowHeard != lastHeard) {
              lastHeard = nowHeard;
              lastProgress = now;
            } else if (now - lastProgress > 200ms) {
              sent = nowHeard;  // lost in a reconnect
              lastProgress = now;
            }
            if (sent - nowHeard < 20) {
              boost::json::object message{
                  {"topic", "room"}, {"event", "tick"}, {"payload", {{"n", sent}}}};
              server.realtime().hub().broadcast(boost::json::array{message});
              ++sent;
            } else {
              calls->waitForAnyCall(50ms);
            }
          }
        }) {}
  ~BroadcastPump() {
    *stop_ = true;
    try {
      task_.value();
    } catch (...) {
    }
  }

 private:
  std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
  Task<void> task_;
};

// The only handle of a client, released by the first listener or callback called once the test
// holds no other handle (armed).
template <class Client>
class Holder {
 public:
  Holder(std::shared_ptr<Client> client, std::shared_ptr<CallerCalls> calls)
      : client_(std::move(client)), calls_(std::move(calls)) {}

  std::shared_ptr<Client> peek() {
    std::lock_guard lock(mutex_);
    return client_;
  }
  void arm() { armed_ = true; }
  // Called by the releasing listener.
  void release() {
    if (!armed_) return;
    std::shared_ptr<Client> last;
    {
      std::lock_guard lock(mutex_);
      last = std::move(client_);
    }
    if (!last) return;
    last.reset();
    calls_->release();
    released_ = true;
  }
  bool waitUntilReleased() {
    return eventually([&] { return released_.load(); }, 30s);
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<Client> client_;
  const std::shared_ptr<CallerCalls> calls_;
  std::atomic<bool> armed_{false};
  std::atomic<bool> released_{false};
};

void expectNoLateCall(const CallerCalls& calls, int round) {
  const auto late = calls.late();
  std::map<std::string, int> kinds;
  for (const auto& call : late) ++kinds[call];
  std::string listed;
  for (const auto& [kind, count] : kinds) listed += " " + kind + " x" + std::to_string(count);
  EXPECT_TRUE(late.empty()) << "round " << round << ", calls after the release:" << listed;
}

class BusyRelease : public ::testing::Test {
 protected:
  // The stand-in has closed every connection of the released client.
  bool serverSocketsGone() {
    return eventually([&] { return server_.realtime().hub().sockets().empty(); }, 30s);
  }
  void dropServerSocket() {
    const auto sockets = server_.realtime().hub().sockets();
    if (!sockets.empty()) server_.realtime().hub().drop(sockets.back());
  }

  local_backend::Server server_;
};

// --- The second-generation client.

class BusyReleaseV2 : public BusyRelease {
 protected:
  struct Made {
    std::shared_ptr<RealtimeClientV2> client;
    std::vector<std::shared_ptr<ObservationToken>> tokens;
  };

  // A client with a caller's logger, fetch and token functions, status and heartbeat listeners,
  // and channel "room" with a status listener and a broadcast callback, all counted; subscribed.
  Made connected(const std::shared_ptr<CallerCalls>& calls) {
    RealtimeClientOptions options(HeaderDictionary{{"apikey", server_.anonKey()}});
    // Heartbeats due often, but not so often that a loaded machine misses every reply: each
    // missed one is a reconnect, and a client that only reconnects hears no broadcast.
    options.heartbeatInterval = Seconds(0.1);
    options.reconnectDelay = Seconds(0.01);
    options.logger = std::make_shared<CountingLogger>(calls);
    // A session of the client's own, gone with it: the shared session's kept-alive connections
    // would otherwise stay open, as they should, and be counted.
    options.fetch = [calls, session = std::make_shared<URLSession>()](const URLRequest& request) {
      calls->called("fetch");
      return session->data(request);
    };
    options.accessToken = [calls]() -> std::optional<std::string> {
      calls->called("token function");
      return std::nullopt;
    };
    Made made;
    made.client = RealtimeClientV2::make(boost::urls::url(server_.url() + "/realtime/v1"), options);
    made.tokens.push_back(made.client->onStatusChange(
        [calls](RealtimeClientStatus) { calls->called("status listener"); }));
    made.tokens.push_back(made.client->onHeartbeat(
        [calls](HeartbeatStatus) { calls->called("heartbeat listener"); }));
    auto room = made.client->channel("room");
    made.tokens.push_back(room->onStatusChange(
        [calls](RealtimeChannelStatus) { calls->called("channel listener"); }));
    made.tokens.push_back(room->onBroadcast(
        "tick", [calls](const JSONObject&) { calls->called("broadcast callback"); }));
    room->subscribeWithError();
    return made;
  }
};

TEST_F(BusyReleaseV2, NothingTheCallerPassedInIsCalledOnceReleased) {
  int round = 0;
  expectReleasedAfter("RealtimeClientV2 released while busy", kRounds, [&](int rounds) {
    for (int n = 0; n < rounds; ++n, ++round) {
      auto calls = std::make_shared<CallerCalls>();
      auto made = connected(calls);
      {
        BroadcastPump pump(server_, calls, "broadcast callback");
        ASSERT_TRUE(calls->waitFor("broadcast callback", 10))
            << "round " << round << ", calls:" << calls->counts() << ", client "
            << static_cast<int>(made.client->status()) << ", channel "
            << static_cast<int>(made.client->channel("room")->status());
        ASSERT_TRUE(calls->waitFor("heartbeat listener", 2));
        // Broadcasts over HTTP, sent by the client's workers while it is released.
        auto outside = made.client->channel("outside");
        for (int sent = 0; sent < 3; ++sent) outside->broadcast("note", {{"n", sent}});
        if (round % 3 == 1) dropServerSocket();  // a reconnect under way
        made.client.reset();
        calls->release();
      }
      made.tokens.clear();
      ASSERT_TRUE(serverSocketsGone()) << "round " << round;
      expectNoLateCall(*calls, round);
    }
  });
}

TEST_F(BusyReleaseV2, ItsOwnListenersAndCallbacksMayReleaseIt) {
  // Each listener or callback in turn releases the client the first time it is called once
  // armed; every other listener keeps being called until then.
  const std::vector<std::string> releasers{"status listener", "heartbeat listener",
                                           "channel listener", "broadcast callback"};
  for (const auto& releaser : releasers) {
    SCOPED_TRACE(releaser);
    int round = 0;
    expectReleasedAfter("RealtimeClientV2 released by its " + releaser, 10, [&](int rounds) {
      for (int n = 0; n < rounds; ++n, ++round) {
        auto calls = std::make_shared<CallerCalls>();
        auto made = connected(calls);
        auto holder = std::make_shared<Holder<RealtimeClientV2>>(std::move(made.client), calls);
        const auto release = [holder] { holder->release(); };
        auto client = holder->peek();
        auto room = client->channel("room");
        std::shared_ptr<ObservationToken> token;
        if (releaser == "status listener") {
          token = client->onStatusChange([release](RealtimeClientStatus) { release(); });
        } else if (releaser == "heartbeat listener") {
          token = client->onHeartbeat([release](HeartbeatStatus) { release(); });
        } else if (releaser == "channel listener") {
          token = room->onStatusChange([release](RealtimeChannelStatus) { release(); });
        } else {
          token = room->onBroadcast("tick", [release](const JSONObject&) { release(); });
        }
        client.reset();
        room.reset();
        holder->arm();
        {
          BroadcastPump pump(server_, calls, "broadcast callback");
          // Statuses change with a reconnect.
          if (releaser == "status listener" || releaser == "channel listener") dropServerSocket();
          ASSERT_TRUE(holder->waitUntilReleased()) << "round " << round;
        }
        token.reset();
        made.tokens.clear();
        ASSERT_TRUE(serverSocketsGone()) << "round " << round;
        expectNoLateCall(*calls, round);
      }
    });
  }
}

TEST(BusyReleaseV2Opening, AReleaseDuringTheOpeningHandshakeEndsTheOpening) {
  // The opening handshake waits for its time-out (60 s) unless the release ends it.
  voduzazi::testing::SilentListener mute;
  for (int round = 0; round < 3; ++round) {
    auto calls = std::make_shared<CallerCalls>();
    RealtimeClientOptions options(HeaderDictionary{{"apikey", "key"}});
    options.logger = std::make_shared<CountingLogger>(calls);
    auto client = RealtimeClientV2::make(boost::urls::url(mute.url() + "/realtime/v1"), options);
    auto token = client->onStatusChange([calls](RealtimeClientStatus status) {
      if (status == RealtimeClientStatus::connecting) calls->called("connecting");
    });
    // The subscribe connects the client, which then waits for the handshake's answer.
    auto room = client->channel("room");
    Task<void> subscribing([room] { room->subscribe(); });
    ASSERT_TRUE(calls->waitFor("connecting", 1));
    Task<void> releasing([client = std::move(client)]() mutable { client.reset(); });
    // Well before the handshake's own time-out.
    EXPECT_TRUE(eventually([&] { return releasing.isFinished(); }, 20s)) << "round " << round;
    calls->release();
    EXPECT_TRUE(eventually([&] { return subscribing.isFinished(); }, 20s)) << "round " << round;
    releasing.value();
    expectNoLateCall(*calls, round);
  }
}

// --- The older client.

class BusyReleaseOlder : public BusyRelease {
 protected:
  // A client with a caller's logger, transport factory, open, close, error and message
  // callbacks, and channel "room" with a broadcast handler and a subscribe callback, all
  // counted; its channel joined.
  std::shared_ptr<RealtimeClient> connected(const std::shared_ptr<CallerCalls>& calls) {
    const std::string key = server_.anonKey();
    auto client = RealtimeClient::make(
        server_.url() + "/realtime/v1", {},
        [key] {
          return JSONObject{{"apikey", key}};
        },
        std::string(Defaults::vsn),
        [calls](const boost::urls::url& url) {
          calls->called("transport factory");
          WebSocketTaskConfiguration configuration;
          configuration.closeTimeout = 2s;
          return std::make_shared<URLSessionTransport>(url, configuration);
        });
    client->setLogger([calls](const std::string&) { calls->called("logger"); });
    client->setHeartbeatInterval(0.02);
    client->setReconnectAfter([](int) { return 0.01; });
    client->onOpen([calls] { calls->called("open callback"); });
    client->onClose([calls] { calls->called("close callback"); });
    client->onError(
        [calls](const RealtimeClient::ErrorReport&) { calls->called("error callback"); });
    client->onMessage([calls](const RealtimeMessage&) { calls->called("message callback"); });
    auto room = client->channel("room");
    room->on("broadcast", ChannelFilter{.event = "tick"},
             [calls](const RealtimeMessage&) { calls->called("broadcast handler"); });
    room->subscribe(std::nullopt, [calls](RealtimeSubscribeStates, const auto&) {
      calls->called("subscribe callback");
    });
    EXPECT_TRUE(calls->waitFor("subscribe callback", 1));
    return client;
  }
};

TEST_F(BusyReleaseOlder, NothingTheCallerPassedInIsCalledOnceReleased) {
  int round = 0;
  expectReleasedAfter("RealtimeClient released while busy", kRounds, [&](int rounds) {
    for (int n = 0; n < rounds; ++n, ++round) {
      auto calls = std::make_shared<CallerCalls>();
      auto client = connected(calls);
      {
        BroadcastPump pump(server_, calls, "broadcast handler");
        ASSERT_TRUE(calls->waitFor("broadcast handler", 10));
        ASSERT_TRUE(calls->waitFor("logger", 100));
        if (round % 3 == 1) dropServerSocket();  // a reconnect under way
        client.reset();
        calls->release();
      }
      ASSERT_TRUE(serverSocketsGone()) << "round " << round;
      expectNoLateCall(*calls, round);
    }
  });
}

TEST_F(BusyReleaseOlder, ItsOwnCallbacksMayReleaseIt) {
  const std::vector<std::string> releasers{"message callback", "broadcast handler",
                                           "close callback"};
  for (const auto& releaser : releasers) {
    SCOPED_TRACE(releaser);
    int round = 0;
    expectReleasedAfter("RealtimeClient released by its " + releaser, 10, [&](int rounds) {
      for (int n = 0; n < rounds; ++n, ++round) {
        auto calls = std::make_shared<CallerCalls>();
        auto holder = std::make_shared<Holder<RealtimeClient>>(connected(calls), calls);
        const auto release = [holder] { holder->release(); };
        auto client = holder->peek();
        if (releaser == "message callback") {
          client->onMessage([release](const RealtimeMessage&) { release(); });
        } else if (releaser == "broadcast handler") {
          firstOf(client->channels(), "the client's channels")
              ->on("broadcast", ChannelFilter{.event = "tick"},
                   [release](const RealtimeMessage&) { release(); });
        } else {
          client->onClose([release] { release(); });
        }
        client.reset();
        holder->arm();
        {
          BroadcastPump pump(server_, calls, "broadcast handler");
          if (releaser == "close callback") dropServerSocket();
          ASSERT_TRUE(holder->waitUntilReleased()) << "round " << round;
        }
        ASSERT_TRUE(serverSocketsGone()) << "round " << round;
        expectNoLateCall(*calls, round);
      }
    });
  }
}

}  // namespace
}  // namespace voduzazi::realtime
