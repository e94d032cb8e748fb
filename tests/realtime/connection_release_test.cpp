// Every way a websocket connection ends gives back its threads and descriptors: the second
// generation's URLSessionWebSocket and the older client's URLSessionTransport, each over 200
// connections per way of ending.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "tests/realtime/misbehaving_server.hpp"
#include "tests/realtime/realtime_backend.hpp"
#include "tests/realtime/resource_counts.hpp"
#include "tests/support/eventually.hpp"
#include "tests/realtime/tls_identity.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/realtime/phoenix_transport.hpp"
#include "voduzazi/realtime/web_socket.hpp"

namespace voduzazi::realtime {
namespace {

using voduzazi::testing::EventRecorder;
using voduzazi::testing::expectReleasedAfter;
using voduzazi::testing::MisbehavingServer;
using voduzazi::testing::eventually;
using namespace std::chrono_literals;
using voduzazi::testing::realtimeURL;

constexpr int kCycles = 200;

// How the server ends a connection it holds.
enum class ServerEnd { close, drop };

// The newest socket of the hub when it is newer than `after`; 0 when none came.
std::uint64_t newSocket(local_backend::Server& server, std::uint64_t after) {
  std::uint64_t found = 0;
  eventually([&] {
    const auto sockets = server.realtime().hub().sockets();
    if (!sockets.empty() && sockets.back() > after) found = sockets.back();
    return found != 0;
  });
  return found;
}

// Ends the newest connection from the server's side; returns its id.
std::uint64_t endFromServer(local_backend::Server& server, std::uint64_t after, ServerEnd how) {
  const auto socket = newSocket(server, after);
  EXPECT_NE(socket, 0u);
  auto& hub = server.realtime().hub();
  if (how == ServerEnd::close) {
    hub.close(socket, 4000, "closing");
  } else {
    hub.drop(socket);
  }
  return socket;
}

class URLSessionWebSocketRelease : public ::testing::Test {
 protected:
  // Opens a connection, lets the server end it, reads the close event, drops the connection.
  void endedByServer(int cycles, ServerEnd how, const boost::urls::url& url,
                     const std::optional<WebSocketTaskConfiguration>& configuration = {}) {
    for (int n = 0; n < cycles; ++n) {
      auto socket = URLSessionWebSocket::connect(url, std::nullopt, configuration);
      EventRecorder events(*socket);
      lastSocket_ = endFromServer(server_, lastSocket_, how);
      const auto close = events.waitForClose();
      ASSERT_TRUE(close);
      EXPECT_EQ(close->code, how == ServerEnd::close ? 4000 : 1006);
    }
  }

  local_backend::Server server_;
  std::uint64_t lastSocket_ = 0;
};

TEST_F(URLSessionWebSocketRelease, ClosedByTheClientAfterItsCloseEventWasRead) {
  expectReleasedAfter("URLSessionWebSocket closed by the client", kCycles, [&](int cycles) {
    for (int n = 0; n < cycles; ++n) {
      auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"));
      EventRecorder events(*socket);
      socket->close(1000, "bye");
      const auto close = events.waitForClose();
      ASSERT_TRUE(close);
      EXPECT_EQ(close->code, 1000);
    }
  });
}

TEST_F(URLSessionWebSocketRelease, ClosedByTheServer) {
  expectReleasedAfter("URLSessionWebSocket closed by the server", kCycles, [&](int cycles) {
    endedByServer(cycles, ServerEnd::close, realtimeURL(server_, "1.0.0"));
  });
}

TEST_F(URLSessionWebSocketRelease, DroppedByTheServer) {
  expectReleasedAfter("URLSessionWebSocket dropped by the server", kCycles, [&](int cycles) {
    endedByServer(cycles, ServerEnd::drop, realtimeURL(server_, "1.0.0"));
  });
}

TEST_F(URLSessionWebSocketRelease, ClosedByTheServerOverAHostNameThatIsLookedUp) {
  auto url = realtimeURL(server_, "1.0.0");
  url.set_host("localhost");
  expectReleasedAfter("URLSessionWebSocket to localhost closed by the server", kCycles,
                      [&](int cycles) { endedByServer(cycles, ServerEnd::close, url); });
}

TEST_F(URLSessionWebSocketRelease, ClosedConnectionsStillHeldKeepNoThreadOrDescriptor) {
  std::vector<std::shared_ptr<URLSessionWebSocket>> held;
  expectReleasedAfter(
      "URLSessionWebSocket closed by the server, still held", kCycles, [&](int cycles) {
        for (int n = 0; n < cycles; ++n) {
          held.push_back(URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0")));
          EventRecorder events(*held.back());
          lastSocket_ = endFromServer(server_, lastSocket_, ServerEnd::close);
          ASSERT_TRUE(events.waitForClose());
        }
      });
  // A connection that has ended still answers: a send returns, a close does nothing.
  held.back()->send("{}");
  held.back()->close(1000, "again");
  EXPECT_TRUE(held.back()->isClosed());
  EXPECT_EQ(held.back()->closeCode(), 4000);
}

TEST(URLSessionWebSocketOverTlsRelease, ClosedByTheServer) {
  const auto identity = voduzazi::testing::makeSelfSignedIdentity();
  local_backend::ServerOptions options;
  options.tls = local_backend::TlsIdentity{identity.certificatePem, identity.privateKeyPem};
  local_backend::Server server(options);
  WebSocketTaskConfiguration configuration;
  configuration.additionalTrustedCertificates = identity.certificatePem;
  std::uint64_t last = 0;
  // Fewer: each TLS opening costs a key exchange under the sanitizers.
  expectReleasedAfter("URLSessionWebSocket over TLS closed by the server", 50, [&](int cycles) {
    for (int n = 0; n < cycles; ++n) {
      auto socket = URLSessionWebSocket::connect(realtimeURL(server, "1.0.0", true), std::nullopt,
                                                 configuration);
      EventRecorder events(*socket);
      last = endFromServer(server, last, ServerEnd::close);
      ASSERT_TRUE(events.waitForClose());
    }
  });
}

TEST_F(URLSessionWebSocketRelease, DroppedByItsOwnerWhileOpen) {
  expectReleasedAfter("URLSessionWebSocket dropped while open", kCycles, [&](int cycles) {
    for (int n = 0; n < cycles; ++n) {
      auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"));
      lastSocket_ = newSocket(server_, lastSocket_);
    }
  });
}

TEST_F(URLSessionWebSocketRelease, ClosedWithoutACodeAndDroppedEndsItsReadersStream) {
  std::size_t stuck = 0;
  const auto cycle = [&](int cycles) {
    std::vector<Task<void>> readers;
    for (int n = 0; n < cycles; ++n) {
      auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"));
      readers.emplace_back([events = socket->events()] {
        while (events.next()) {
        }
      });
      socket->close(std::nullopt, std::nullopt);
      socket.reset();  // mostly before the close event has come
    }
    const auto waiting = [&] {
      return std::count_if(readers.begin(), readers.end(),
                           [](const Task<void>& reader) { return !reader.isFinished(); });
    };
    eventually([&] { return waiting() == 0; }, 20s);
    stuck += waiting();
  };
  expectReleasedAfter("URLSessionWebSocket closed and dropped, a reader each", kCycles, cycle);
  EXPECT_EQ(stuck, 0u) << "readers still waiting";
}

TEST(URLSessionWebSocketAgainstASilentPeerRelease, EndedByTheBoundedClose) {
  WebSocketTaskConfiguration configuration;
  configuration.closeTimeout = std::chrono::milliseconds(10);
  // The silent server keeps its side of every connection until it goes: it goes with each run.
  expectReleasedAfter("URLSessionWebSocket ended by the bounded close", kCycles, [&](int cycles) {
    MisbehavingServer server({.behaviour = MisbehavingServer::Behaviour::silent});
    for (int n = 0; n < cycles; ++n) {
      auto socket = URLSessionWebSocket::connect(server.url(), std::nullopt, configuration);
      EventRecorder events(*socket);
      socket->close(1000, "bye");
      const auto close = events.waitForClose();
      ASSERT_TRUE(close);
      EXPECT_EQ(close->reason, "Connection timed out");
    }
  });
}

TEST(URLSessionWebSocketAgainstARefusingPeerRelease, RefusedHandshake) {
  MisbehavingServer server({.behaviour = MisbehavingServer::Behaviour::refuse});
  expectReleasedAfter("URLSessionWebSocket refused", kCycles, [&](int cycles) {
    for (int n = 0; n < cycles; ++n) {
      EXPECT_THROW(URLSessionWebSocket::connect(server.url()), WebSocketError);
    }
  });
}

// A task whose delegate signals its completion.
struct CompletionSignal {
  void complete(const std::optional<WebSocketTaskError>& why) {
    // Notified under the lock: the waiter may destroy the signal as soon as it sees the change.
    std::lock_guard lock(mutex);
    error = why;
    completed = true;
    changed.notify_all();
  }
  bool wait() {
    return voduzazi::testing::waitUntil(
        mutex, changed, [&] { return completed; }, std::chrono::seconds(30));
  }

  std::mutex mutex;
  std::condition_variable changed;
  bool completed = false;
  std::optional<WebSocketTaskError> error;
};

class WebSocketTaskRelease : public URLSessionWebSocketRelease {
 protected:
  URLRequest request() {
    URLRequest request;
    request.url = realtimeURL(server_, "1.0.0");
    return request;
  }
};

TEST_F(WebSocketTaskRelease, DroppedByItsOwnDelegateOnCompletion) {
  // The last reference goes on the connection's own thread, which cannot join itself.
  expectReleasedAfter("WebSocketTask dropped inside didComplete", kCycles, [&](int cycles) {
    for (int n = 0; n < cycles; ++n) {
      CompletionSignal signal;
      std::shared_ptr<WebSocketTask> task;
      WebSocketTaskDelegate delegate;
      delegate.didComplete = [&](const std::optional<WebSocketTaskError>& error) {
        task.reset();
        signal.complete(error);
      };
      task = WebSocketTask::make(request(), {}, {}, std::move(delegate));
      task->resume();
      lastSocket_ = endFromServer(server_, lastSocket_, ServerEnd::close);
      ASSERT_TRUE(signal.wait());
      EXPECT_FALSE(signal.error);
    }
  });
}

TEST_F(WebSocketTaskRelease, AnEndedConnectionAnswersSendsOnTheCallersThread) {
  CompletionSignal signal;
  WebSocketTaskDelegate delegate;
  delegate.didComplete = [&](const auto& error) { signal.complete(error); };
  const auto idle = voduzazi::testing::countResources();
  auto task = WebSocketTask::make(request(), {}, {}, std::move(delegate));
  task->resume();
  lastSocket_ = endFromServer(server_, lastSocket_, ServerEnd::drop);
  ASSERT_TRUE(signal.wait());
  // The connection's thread and context go by themselves once it has ended.
  ASSERT_TRUE(eventually(
      [&] {
        const auto now = voduzazi::testing::countResources();
        return now.threads <= idle.threads && now.descriptors <= idle.descriptors;
      },
      30s));

  std::optional<WebSocketTaskError> sendError;
  task->send(WebSocketMessage{WebSocketMessage::Kind::text, "{}"},
             [&](const std::optional<WebSocketTaskError>& error) { sendError = error; });
  ASSERT_TRUE(sendError);
  EXPECT_EQ(sendError->code(), std::errc::not_connected);
  task->cancel(1000, "late");
  task->cancel();
  EXPECT_FALSE(task->isConnectionThread());
}

TEST(WebSocketTaskCancelledEarlyRelease, CancelledBeforeItStartedEndsOnceWithoutConnecting) {
  MisbehavingServer server({.behaviour = MisbehavingServer::Behaviour::silent});
  expectReleasedAfter("WebSocketTask cancelled before resume", kCycles, [&](int cycles) {
    for (int n = 0; n < cycles; ++n) {
      CompletionSignal signal;
      int completions = 0;
      WebSocketTaskDelegate delegate;
      delegate.didComplete = [&](const auto& error) {
        ++completions;
        signal.complete(error);
      };
      URLRequest request;
      request.url = server.url();
      auto task = WebSocketTask::make(request, {}, {}, std::move(delegate));
      task->cancel();
      task->resume();
      ASSERT_TRUE(signal.wait());
      ASSERT_TRUE(signal.error);
      EXPECT_EQ(signal.error->code(), boost::asio::error::operation_aborted);
      task.reset();  // joins the thread: every delegate call has been made
      EXPECT_EQ(completions, 1);
    }
  });
  EXPECT_EQ(server.connections(), 0);
}

// What the transport reports, counted; waited on with a deadline.
class TransportReports final : public PhoenixTransportDelegate {
 public:
  void onOpen(std::shared_ptr<const URLResponse>) override {
    record([this] { ++opens_; });
  }
  void onError(const WebSocketTaskError&, std::shared_ptr<const URLResponse>) override {}
  void onMessage(const std::string&) override {}
  void onClose(int code, const std::optional<std::string>&) override {
    record([&] { closeCodes_.push_back(code); });
  }

  bool waitForOpen() {
    return voduzazi::testing::waitUntil(
        mutex_, changed_, [&] { return opens_ > 0; }, std::chrono::seconds(30));
  }
  // The code of the first close report.
  std::optional<int> waitForClose() {
    voduzazi::testing::waitUntil(
        mutex_, changed_, [&] { return !closeCodes_.empty(); }, std::chrono::seconds(30));
    std::lock_guard lock(mutex_);
    if (closeCodes_.empty()) return std::nullopt;
    return closeCodes_.front();
  }

 private:
  template <class Change>
  void record(Change change) {
    {
      std::lock_guard lock(mutex_);
      change();
    }
    changed_.notify_all();
  }

  std::mutex mutex_;
  std::condition_variable changed_;
  int opens_ = 0;
  std::vector<int> closeCodes_;
};

class URLSessionTransportRelease : public ::testing::Test {
 protected:
  // One transport per connection, as the client makes them: connects, lets `end` end the
  // connection, waits for the close report, drops the transport.
  void cycle(const boost::urls::url& url, bool waitForOpen,
             const std::function<void(URLSessionTransport&)>& end, int closeCode,
             const WebSocketTaskConfiguration& configuration = {}) {
    auto transport = std::make_shared<URLSessionTransport>(url, configuration);
    auto reports = std::make_shared<TransportReports>();
    transport->setDelegate(reports);
    transport->connect({});
    if (waitForOpen) {
      ASSERT_TRUE(reports->waitForOpen());
    }
    end(*transport);
    EXPECT_EQ(reports->waitForClose(), closeCode);
    EXPECT_EQ(transport->readyState(), PhoenixTransportReadyState::closed);
  }

  local_backend::Server server_;
  std::uint64_t lastSocket_ = 0;
};

TEST_F(URLSessionTransportRelease, ClosedByTheClient) {
  expectReleasedAfter("URLSessionTransport closed by the client", kCycles, [&](int cycles) {
    for (int n = 0; n < cycles; ++n) {
      cycle(
          realtimeURL(server_, "2.0.0"), true,
          [](URLSessionTransport& transport) { transport.disconnect(1000, "bye"); }, 1000);
    }
  });
}

TEST_F(URLSessionTransportRelease, ClosedOrDroppedByTheServer) {
  for (const auto how : {ServerEnd::close, ServerEnd::drop}) {
    const std::string what = how == ServerEnd::close ? "closed" : "dropped";
    expectReleasedAfter("URLSessionTransport " + what + " by the server", kCycles, [&](int cycles) {
      for (int n = 0; n < cycles; ++n) {
        cycle(
            realtimeURL(server_, "2.0.0"), true,
            [&](URLSessionTransport&) { lastSocket_ = endFromServer(server_, lastSocket_, how); },
            how == ServerEnd::close ? 4000 : 999);
      }
    });
  }
}

TEST_F(URLSessionTransportRelease, EndedByTheBoundedClose) {
  WebSocketTaskConfiguration configuration;
  configuration.closeTimeout = std::chrono::milliseconds(10);
  expectReleasedAfter("URLSessionTransport ended by the bounded close", kCycles, [&](int cycles) {
    MisbehavingServer server({.behaviour = MisbehavingServer::Behaviour::silent});
    for (int n = 0; n < cycles; ++n) {
      cycle(
          server.url(), true,
          [](URLSessionTransport& transport) { transport.disconnect(1000, "bye"); }, 999,
          configuration);
    }
  });
}

TEST_F(URLSessionTransportRelease, RefusedHandshake) {
  MisbehavingServer server({.behaviour = MisbehavingServer::Behaviour::refuse});
  expectReleasedAfter("URLSessionTransport refused", kCycles, [&](int cycles) {
    for (int n = 0; n < cycles; ++n)
      cycle(
          server.url(), false, [](URLSessionTransport&) {}, 999);
  });
}

}  // namespace
}  // namespace voduzazi::realtime
