// Both realtime clients, through their public API, give back the threads and descriptors of every
// connection however it ended, 200 connections per way of ending; each run ends by releasing its
// client.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "tests/realtime/misbehaving_server.hpp"
#include "tests/realtime/realtime_backend.hpp"
#include "tests/realtime/resource_counts.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"
#include "voduzazi/realtime/realtime_client.hpp"
#include "voduzazi/realtime/realtime_client_v2.hpp"

namespace voduzazi::realtime {
namespace {

using voduzazi::testing::expectReleasedAfter;
using voduzazi::testing::MisbehavingServer;
using voduzazi::testing::eventually;

constexpr int kCycles = 200;

enum class ServerEnd { close, drop };

// A count that callbacks raise and tests wait on with a deadline.
class Counter {
 public:
  void add() {
    {
      std::lock_guard lock(mutex_);
      ++count_;
    }
    changed_.notify_all();
  }
  bool waitFor(int count) {
    return voduzazi::testing::waitUntil(
        mutex_, changed_, [&] { return count_ >= count; }, std::chrono::seconds(30));
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

// The stand-in backend, with a way to end the connection the client opened last.
class AgainstTheBackend : public ::testing::Test {
 protected:
  // The newest socket, once it is newer than the last one this test saw; 0 when none came.
  std::uint64_t nextSocket() {
    std::uint64_t found = 0;
    eventually([&] {
      const auto sockets = server_.realtime().hub().sockets();
      if (!sockets.empty() && sockets.back() > lastSocket_) found = sockets.back();
      return found != 0;
    });
    if (found != 0) lastSocket_ = found;
    return found;
  }

  void endNextSocket(ServerEnd how) {
    const auto socket = nextSocket();
    ASSERT_NE(socket, 0u);
    auto& hub = server_.realtime().hub();
    if (how == ServerEnd::close) {
      hub.close(socket, 1000, "closing");
    } else {
      hub.drop(socket);
    }
  }

  local_backend::Server server_;
  std::uint64_t lastSocket_ = 0;
};

std::shared_ptr<RealtimeClientV2> clientV2(const boost::urls::url& url, const std::string& key,
                                           Seconds heartbeatInterval = Seconds(25)) {
  RealtimeClientOptions options(HeaderDictionary{{"apikey", key}});
  options.reconnectDelay = Seconds(0.01);
  options.heartbeatInterval = heartbeatInterval;
  return RealtimeClientV2::make(url, options);
}

class RealtimeClientV2Release : public AgainstTheBackend {
 protected:
  std::shared_ptr<RealtimeClientV2> client() {
    return clientV2(boost::urls::url(server_.url() + "/realtime/v1"), server_.anonKey());
  }

  // Each connection ended by the server; the client reconnects by itself.
  void endedByServer(int cycles, ServerEnd how) {
    auto client = this->client();
    client->connect();
    for (int n = 0; n < cycles; ++n) endNextSocket(how);
    ASSERT_NE(nextSocket(), 0u);  // the connection after the last one ended
    client->disconnect();
  }
};

TEST_F(RealtimeClientV2Release, ClosedByTheClient) {
  expectReleasedAfter("RealtimeClientV2 closed by the client", kCycles, [&](int cycles) {
    auto client = this->client();
    for (int n = 0; n < cycles; ++n) {
      client->connect();
      client->disconnect(1000, "bye");
    }
  });
}

TEST_F(RealtimeClientV2Release, ClosedByTheServer) {
  expectReleasedAfter("RealtimeClientV2 closed by the server", kCycles,
                      [&](int cycles) { endedByServer(cycles, ServerEnd::close); });
}

TEST_F(RealtimeClientV2Release, DroppedByTheServer) {
  expectReleasedAfter("RealtimeClientV2 dropped by the server", kCycles,
                      [&](int cycles) { endedByServer(cycles, ServerEnd::drop); });
}

TEST(RealtimeClientV2AgainstASilentServerRelease, EndedByHeartbeatTimeouts) {
  // The silent server keeps its side of every connection until it goes: it goes with each run.
  expectReleasedAfter("RealtimeClientV2 ended by heartbeat time-outs", kCycles, [&](int cycles) {
    MisbehavingServer server({.behaviour = MisbehavingServer::Behaviour::silent});
    auto client = clientV2(server.url("/realtime/v1"), "key", Seconds(0.01));
    client->connect();
    EXPECT_TRUE(server.waitForConnections(cycles + 1));
    client->disconnect();
  });
}

TEST(RealtimeClientV2AgainstARefusingServerRelease, RefusedHandshakes) {
  MisbehavingServer server({.behaviour = MisbehavingServer::Behaviour::refuse});
  int refused = 0;
  expectReleasedAfter("RealtimeClientV2 refused", kCycles, [&](int cycles) {
    auto client = clientV2(server.url("/realtime/v1"), "key");
    // connect() waits until connected, which never happens here: it waits on a task.
    auto connecting = Task<void>::detached([client] { client->connect(); });
    refused += cycles;
    EXPECT_TRUE(server.waitForConnections(refused));
    client->disconnect();
    connecting.cancel();
    EXPECT_ANY_THROW(connecting.value());
    refused = server.connections();
  });
}

std::shared_ptr<RealtimeClient> olderClient(const std::string& url, const std::string& key) {
  auto client = RealtimeClient::make(url, {}, JSONObject{{"apikey", key}});
  client->setReconnectAfter([](int) { return 0.01; });
  return client;
}

class RealtimeClientRelease : public AgainstTheBackend {
 protected:
  std::shared_ptr<RealtimeClient> client() {
    return olderClient(server_.url() + "/realtime/v1", server_.anonKey());
  }
};

TEST_F(RealtimeClientRelease, ClosedByTheClient) {
  expectReleasedAfter("RealtimeClient closed by the client", kCycles, [&](int cycles) {
    auto client = this->client();
    auto opens = std::make_shared<Counter>();
    client->onOpen([opens] { opens->add(); });
    for (int n = 0; n < cycles; ++n) {
      client->connect();
      ASSERT_TRUE(opens->waitFor(n + 1));
      client->disconnect();
    }
  });
}

TEST_F(RealtimeClientRelease, ClosedByTheServer) {
  // A clean close from the server is not followed by a reconnect: each cycle connects again.
  expectReleasedAfter("RealtimeClient closed by the server", kCycles, [&](int cycles) {
    auto client = this->client();
    auto opens = std::make_shared<Counter>();
    auto closes = std::make_shared<Counter>();
    client->onOpen([opens] { opens->add(); });
    client->onClose([closes] { closes->add(); });
    for (int n = 0; n < cycles; ++n) {
      client->connect();
      ASSERT_TRUE(opens->waitFor(n + 1));
      endNextSocket(ServerEnd::close);
      ASSERT_TRUE(closes->waitFor(n + 1));
    }
    client->disconnect();
  });
}

TEST_F(RealtimeClientRelease, DroppedByTheServer) {
  // A dropped connection is followed by a reconnect.
  expectReleasedAfter("RealtimeClient dropped by the server", kCycles, [&](int cycles) {
    auto client = this->client();
    client->connect();
    for (int n = 0; n < cycles; ++n) endNextSocket(ServerEnd::drop);
    ASSERT_NE(nextSocket(), 0u);
    client->disconnect();
  });
}

TEST(RealtimeClientAgainstAHungServerRelease, EndedByHeartbeatTimeouts) {
  // The server answers the join, then reads nothing more: heartbeats and the close go unanswered.
  expectReleasedAfter("RealtimeClient ended by heartbeat time-outs", kCycles, [&](int cycles) {
    MisbehavingServer server(
        {.behaviour = MisbehavingServer::Behaviour::replyWithStatus, .repliesBeforeSilence = 1});
    auto client = olderClient(std::string(server.url("/socket").buffer()), "key");
    client->setHeartbeatInterval(0.01);
    client->setTimeout(0.05);
    auto channel = client->channel("room");
    channel->subscribe();
    EXPECT_TRUE(server.waitForConnections(cycles + 1));
    client->disconnect();
  });
}

TEST(RealtimeClientAgainstARefusingServerRelease, RefusedHandshakes) {
  MisbehavingServer server({.behaviour = MisbehavingServer::Behaviour::refuse});
  int refused = 0;
  expectReleasedAfter("RealtimeClient refused", kCycles, [&](int cycles) {
    auto client = olderClient(std::string(server.url("/socket").buffer()), "key");
    client->connect();
    refused += cycles;
    EXPECT_TRUE(server.waitForConnections(refused));
    client->disconnect();
    refused = server.connections();
  });
}

}  // namespace
}  // namespace voduzazi::realtime
