// Older-client channels whose client was released (orphans), and the work that released it.
// An orphan's pushes fail at once ("no client"); their hooks and the subscribe callback hear it
// each with a reply of their own, and a retry from inside that announcement is recorded, not
// announced again. Once the client is released from inside its own work, what other threads hand
// over waits for the rest of that work, and what the release lets go of goes after it. A
// transport of the caller's may release or disconnect the client from inside its own calls. And
// a channel's time-out is read on the strand.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/realtime/fake_socket.hpp"
#include "tests/support/checked_list.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/realtime/presence.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"

namespace voduzazi::realtime {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using testing::frame;
using ::testing::IsEmpty;
using testing::nameOf;
using testing::reply;
using testing::SocketHarness;
using voduzazi::testing::eventually;
using voduzazi::testing::lastOf;

// The "reason" of a reply's response: "no client" for an orphan's failure.
std::string reasonOf(const RealtimeMessage& reply) {
  const auto found = reply.payload().find("reason");
  if (found == reply.payload().end() || found->second.stringValue() == nullptr) return "";
  return *found->second.stringValue();
}

class OrphanChannelTest : public ::testing::Test {
 protected:
  // "room", subscribed and joined, whose client then goes. The subscribe callback's reports go
  // to `reports`; `onReport` runs after each.
  std::shared_ptr<RealtimeChannel> orphanedRoom() {
    const auto client = harness.openClient();
    auto room = client->channel("room");
    room->subscribe(std::nullopt, [this](RealtimeSubscribeStates state, const auto&) {
      reports.push_back(nameOf(state));
      if (onReport) onReport(state);
    });
    const auto ref = room->joinRef().value_or("");
    harness.transport().receive(reply(ref, ref, room->topic(), "ok"));
    return room;
  }

  SocketHarness harness;
  std::vector<std::string> reports;
  std::function<void(RealtimeSubscribeStates)> onReport;
};

// A hook that resets its push, ahead of another hook: the later one still reads the failure.
TEST_F(OrphanChannelTest, AHookThatResetsItsPushHarmsNoLaterHook) {
  std::vector<std::string> heard;
  const auto room = orphanedRoom();
  {
    SCOPED_TRACE("a push of the caller's, resent");
    const auto push = room->push("ping", {});
    Push* const raw = push.get();
    push->receive(PushStatus::error,
                  [&heard, raw](const RealtimeMessage&) {
                    heard.push_back("reset");
                    raw->reset();
                  })
        ->receive(PushStatus::error,
                  [&heard](const RealtimeMessage& reply) { heard.push_back(reasonOf(reply)); });
    push->resend(1.0);
    EXPECT_THAT(heard, ElementsAre("reset", "reset", "no client"));
  }
  SCOPED_TRACE("the join push, rejoined, reset by the subscribe callback");
  heard.clear();
  Push* const join = room->joinPush().get();
  onReport = [join](RealtimeSubscribeStates state) {
    if (state == RealtimeSubscribeStates::channelError) join->reset();
  };
  join->receive(PushStatus::error,
                [&heard](const RealtimeMessage& reply) { heard.push_back(reasonOf(reply)); });
  room->rejoin();
  EXPECT_THAT(reports, ElementsAre("subscribed", "channelError"));
  EXPECT_THAT(heard, ElementsAre("no client"));
}

// Retrying on error, as callers do with a live client (where the error comes later): a rejoin,
// resend or new push from inside the announcement of an orphan's failure fails alike, and that
// failure is recorded, not announced again. The orphan's own rules stand meanwhile.
TEST_F(OrphanChannelTest, ARetryFromInsideTheAnnouncementOfAFailureIsNotAnnouncedAgain) {
  const auto room = orphanedRoom();
  RealtimeChannel* const raw = room.get();
  onReport = [raw](RealtimeSubscribeStates state) {
    if (state == RealtimeSubscribeStates::channelError) raw->rejoin();
  };
  room->rejoin();
  EXPECT_THAT(reports, ElementsAre("subscribed", "channelError"));
  EXPECT_TRUE(room->joinPush()->hasReceived(PushStatus::error));
  EXPECT_EQ(room->state(), ChannelState::errored);
  room->rejoin();  // from outside: announced, once
  EXPECT_THAT(reports, ElementsAre("subscribed", "channelError", "channelError"));

  int resends = 0;
  const auto push = room->push("ping", {});
  Push* const rawPush = push.get();
  push->receive(PushStatus::error, [&resends, rawPush](const RealtimeMessage&) {
    ++resends;
    rawPush->resend(1.0);
  });
  EXPECT_EQ(resends, 1);
  EXPECT_TRUE(push->hasReceived(PushStatus::error));
  push->resend(1.0);
  EXPECT_EQ(resends, 2);

  int pushes = 0;
  std::function<void()> pushAgain = [&] {
    ++pushes;
    room->push("ping", {})->receive(PushStatus::error, [&pushAgain](const RealtimeMessage&) {
      pushAgain();
    });
  };
  pushAgain();
  EXPECT_EQ(pushes, 2);

  EXPECT_EQ(room->send(RealtimeListenTypes::broadcast, "x", {}), ChannelResponse::error);
  // A leave from inside the announcement is a push of its own: its failure closes the channel.
  onReport = [raw](RealtimeSubscribeStates state) {
    if (state == RealtimeSubscribeStates::channelError) raw->unsubscribe();
  };
  room->rejoin();
  EXPECT_EQ(room->state(), ChannelState::closed);
  EXPECT_THAT(reports,
              ElementsAre("subscribed", "channelError", "channelError", "channelError", "closed"));
}

// send() reads the channel's time-out on the strand, where subscribe(timeout) writes it: sends
// from one thread beside subscribes from another, round after round.
TEST(RealtimeChannelFromTwoThreads, SendBesideASubscribeWithATimeOut) {
  SocketHarness harness;
  const auto client = harness.openClient();
  constexpr int rounds = 1000;
  std::vector<std::shared_ptr<RealtimeChannel>> channels;
  for (int round = 0; round < rounds; ++round) {
    channels.push_back(client->channel("room" + std::to_string(round)));
  }
  std::barrier start(2);
  std::thread subscriber([&] {
    for (const auto& channel : channels) {
      start.arrive_and_wait();
      channel->subscribe(5.0);
    }
  });
  for (int round = 0; round < rounds; ++round) {
    const auto& channel = channels[round];
    start.arrive_and_wait();
    // A start that moves by a microsecond a round, so that the two meet at many points. A spin,
    // not a yield: a loaded machine makes each yield a time slice.
    const auto from = std::chrono::steady_clock::now() + std::chrono::microseconds(round % 64);
    while (std::chrono::steady_clock::now() < from) {
    }
    // Not joined yet: over HTTP.
    EXPECT_EQ(channel->send(RealtimeListenTypes::broadcast, "x", {}), ChannelResponse::ok);
  }
  subscriber.join();
  // Their joins' time-outs are called off: none is left for the harness to run.
  for (const auto& channel : channels) channel->joinPush()->cancel();
}

// A presence callback that releases the client, then holds on: another thread's read of the
// tracker, started after the release, waits until the callback has returned (the work it ends
// still writes the state). The callback waits for nothing of that thread's.
TEST(OrphanChannelFromAnotherThread, AReadAfterAReleaseFromACallbackWaitsForTheCallback) {
  SocketHarness harness;
  auto client = harness.openClient();
  const auto room = client->channel("room");
  const auto presence = room->presence();
  std::atomic<bool> released{false};
  std::atomic<bool> returned{false};
  presence->onJoin([&](const std::string&, const auto&, const auto&) {
    client.reset();
    released = true;
    std::this_thread::sleep_for(100ms);  // holds the callback
    returned = true;
  });
  room->subscribe();
  const auto ref = room->joinRef().value_or("");
  auto& transport = harness.transport();
  transport.receive(reply(ref, ref, room->topic(), "ok"));
  const JSONObject ada{{"metas", JSONArray{JSONObject{{"phx_ref", "1"}}}}};
  std::thread server([&] {
    transport.receive(frame(ref, std::nullopt, room->topic(), "presence_state", {{"ada", ada}}));
  });
  if (eventually([&] { return released.load(); })) {
    const auto state = presence->state();
    EXPECT_TRUE(returned) << "read while the callback that released the client still ran";
    EXPECT_EQ(state.size(), 1u);
  } else {
    ADD_FAILURE() << "the callback never ran";
  }
  server.join();
}

// A transport of the caller's. From inside connect, send and disconnect it runs what the test
// asks, then goes on with its own members (which a transport destroyed meanwhile has no more);
// its end runs `onEnd`.
class CallerTransport final : public PhoenixTransport {
 public:
  ~CallerTransport() override {
    if (onEnd) onEnd();
  }

  PhoenixTransportReadyState readyState() const override {
    std::lock_guard lock(mutex_);
    return state_;
  }
  std::shared_ptr<PhoenixTransportDelegate> delegate() const override {
    std::lock_guard lock(mutex_);
    return delegate_;
  }
  void setDelegate(std::shared_ptr<PhoenixTransportDelegate> delegate) override {
    std::lock_guard lock(mutex_);
    delegate_ = std::move(delegate);
  }
  void connect(const std::map<std::string, std::string>&) override {
    run("connect", onConnect, PhoenixTransportReadyState::connecting);
  }
  void disconnect(int, const std::optional<std::string>&) override {
    run("disconnect", onDisconnect, PhoenixTransportReadyState::closing);
  }
  void send(const Data&) override { run("send", onSend, std::nullopt); }

  // The server's side.
  void open() {
    {
      std::lock_guard lock(mutex_);
      state_ = PhoenixTransportReadyState::open;
    }
    if (const auto listener = delegate()) listener->onOpen(nullptr);
  }
  void fail() {
    {
      std::lock_guard lock(mutex_);
      state_ = PhoenixTransportReadyState::closed;
    }
    if (const auto listener = delegate()) {
      listener->onError(
          WebSocketTaskError(std::make_error_code(std::errc::connection_refused), "refused"),
          nullptr);
      listener->onClose(999, "refused");
    }
  }

  std::function<void()> onConnect;
  std::function<void()> onSend;
  std::function<void()> onDisconnect;
  std::function<void()> onEnd;
  // Hears "connect", "send" and "disconnect" before each runs.
  std::function<void(const std::string&)> onCall;

 private:
  void run(const std::string& call, const std::function<void()>& action,
           std::optional<PhoenixTransportReadyState> next) {
    if (onCall) onCall(call);
    if (action) action();
    std::lock_guard lock(mutex_);
    calls_.push_back(call);
    if (next) state_ = *next;
  }

  mutable std::mutex mutex_;
  PhoenixTransportReadyState state_ = PhoenixTransportReadyState::closed;
  std::shared_ptr<PhoenixTransportDelegate> delegate_;
  std::vector<std::string> calls_;
};

// An open client whose connections are CallerTransports that only the client holds. The test
// holds the client's one reference until release(); every call of the caller's code after that
// (logger, transport factory, transport calls) is noted in `late`.
class CallerTransports {
 public:
  CallerTransports() {
    auto made = RealtimeClient::make(
        "https://abcd.example.co/realtime/v1", {},
        [] {
          return std::optional<JSONObject>(JSONObject{{"apikey", "anon-key"}});
        },
        std::string(Defaults::vsn),
        [this](const boost::urls::url&) {
          note("transport factory");
          auto transport = std::make_shared<CallerTransport>();
          transport->onCall = [this](const std::string& call) { note(call); };
          if (prepare) prepare(*transport);
          transports.push_back(transport);
          return transport;
        },
        RealtimeClient::Environment{harness.strand, harness.timers, harness.main, harness.http});
    made->setLogger([this](const std::string&) { note("logger"); });
    made->connect();
    transport()->open();
    client = std::move(made);
  }

  std::shared_ptr<CallerTransport> transport() const {
    return lastOf(transports, "the transports made").lock();
  }
  void release() {
    released = true;
    client.reset();
  }
  void note(const std::string& what) {
    if (released) late.push_back(what);
  }

  SocketHarness harness;  // the clock, timers and main executor
  std::shared_ptr<RealtimeClient> client;
  std::vector<std::weak_ptr<CallerTransport>> transports;
  // Runs on each new transport before the client has it.
  std::function<void(CallerTransport&)> prepare;
  bool released = false;
  std::vector<std::string> late;
};

// A release from inside each call the client makes of its transport: the transport outlives its
// call, goes with the release after it, and nothing of the caller's is called afterwards.
TEST(RealtimeClientFromItsTransport, ReleasedFromInsideACallItOutlivesThatCall) {
  const std::vector<std::pair<std::string, std::function<void(CallerTransports&)>>> calls{
      {"connect, reconnecting",
       [](CallerTransports& scene) {
         scene.prepare = [&scene](CallerTransport& next) {
           next.onConnect = [&scene] { scene.release(); };
         };
         scene.transport()->fail();
         scene.harness.advance(10ms);
       }},
      {"send, a heartbeat",
       [](CallerTransports& scene) {
         scene.transport()->onSend = [&scene] { scene.release(); };
         scene.harness.advance(30s);
       }},
      {"disconnect, a heartbeat time-out",
       [](CallerTransports& scene) {
         scene.harness.advance(30s);
         scene.transport()->onDisconnect = [&scene] { scene.release(); };
         scene.harness.advance(30s);
       }},
  };
  for (const auto& [name, reach] : calls) {
    SCOPED_TRACE(name);
    CallerTransports scene;
    reach(scene);
    ASSERT_TRUE(scene.released);
    for (int round = 0; round < 3; ++round) scene.harness.advance(1min);
    EXPECT_THAT(scene.late, IsEmpty());
    EXPECT_TRUE(lastOf(scene.transports, "the transports made").expired());
  }
}

// A disconnect from inside a send tears the connection down under that send: the transport
// outlives the call, and the disconnect stands.
TEST(RealtimeClientFromItsTransport, DisconnectedFromInsideASendItOutlivesTheSend) {
  CallerTransports scene;
  scene.transport()->onSend = [&scene] { scene.client->disconnect(); };
  scene.harness.advance(30s);
  EXPECT_TRUE(lastOf(scene.transports, "the transports made").expired());
  EXPECT_EQ(scene.client->closeStatus(), RealtimeClient::CloseStatus::clean);
  scene.harness.advance(1min);
  EXPECT_EQ(scene.transports.size(), 1u);
  scene.client->connect();
  EXPECT_EQ(scene.transports.size(), 2u);
}

// The release from inside a push hook lets the connection go only after that work has ended: a
// transport whose end waits for a thread that calls an orphan meanwhile does not wait for that
// work (which keeps the orphan's thread out until it ends).
TEST(RealtimeClientFromItsTransport, ItsEndCanWaitForAThreadCallingAnOrphan) {
  CallerTransports scene;
  const auto room = scene.client->channel("room");
  room->subscribe();
  std::atomic<bool> go{false};
  std::atomic<bool> done{false};
  std::thread caller([&] {
    if (!eventually([&] { return go.load(); })) return;
    room->state();
    done = true;
  });
  bool waitedOut = false;
  scene.transport()->onEnd = [&] {
    go = true;
    waitedOut = !eventually([&] { return done.load(); }, 2s);
  };
  room->push("ping", {}, 1.0)->receive(PushStatus::timeout, [&scene](const RealtimeMessage&) {
    scene.release();
  });
  scene.harness.advance(1s);
  caller.join();
  ASSERT_TRUE(scene.released);
  EXPECT_TRUE(done);
  EXPECT_FALSE(waitedOut) << "the transport ended inside the work that released the client";
  room->unsubscribe();  // the join's time-out goes with it
}

}  // namespace
}  // namespace voduzazi::realtime
