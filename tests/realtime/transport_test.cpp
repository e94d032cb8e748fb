#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <variant>

#include "tests/realtime/realtime_backend.hpp"
#include "tests/support/checked_list.hpp"
#include "voduzazi/realtime/phoenix_transport.hpp"
#include "voduzazi/realtime/realtime_message.hpp"

namespace voduzazi::realtime {
namespace {

using voduzazi::testing::firstOf;
using voduzazi::testing::realtimeURL;

// Records the delegate calls in order, as one line each.
class RecordingDelegate final : public PhoenixTransportDelegate {
 public:
  void onOpen(std::shared_ptr<const URLResponse> response) override {
    auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response);
    record("open " + std::to_string(http ? http->statusCode() : 0));
  }
  void onError(const WebSocketTaskError& error,
               std::shared_ptr<const URLResponse> response) override {
    auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(response);
    record("error " + std::to_string(http ? http->statusCode() : 0));
    lastError_ = error.localizedDescription();
  }
  void onMessage(const std::string& message) override { record("message " + message); }
  void onClose(int code, const std::optional<std::string>& reason) override {
    record("close " + std::to_string(code) + (reason ? " " + *reason : ""));
  }

  std::vector<std::string> calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::string lastError() const {
    std::lock_guard lock(mutex_);
    return lastError_;
  }
  bool waitForCalls(std::size_t count) {
    return voduzazi::testing::waitUntil(mutex_, changed_, [&] { return calls_.size() >= count; });
  }

 private:
  void record(std::string call) {
    {
      std::lock_guard lock(mutex_);
      calls_.push_back(std::move(call));
    }
    changed_.notify_all();
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> calls_;
  std::string lastError_;
};

TEST(URLSessionTransportURL, TurnsHttpSchemesIntoWebSocketSchemes) {
  auto converted = [](const char* text) {
    return std::string(URLSessionTransport::webSocketURL(boost::urls::url(text)).buffer());
  };
  EXPECT_EQ(converted("https://h.example:8443/socket/websocket?vsn=2.0.0"),
            "wss://h.example:8443/socket/websocket?vsn=2.0.0");
  EXPECT_EQ(converted("http://127.0.0.1/socket"), "ws://127.0.0.1/socket");
  EXPECT_EQ(converted("wss://h.example/socket"), "wss://h.example/socket");
}

class URLSessionTransportTest : public ::testing::Test {
 protected:
  URLSessionTransportTest() { transport_->setDelegate(delegate_); }

  // The server goes last, after the transport has ended its connection.
  local_backend::Server server_;
  std::shared_ptr<URLSessionTransport> transport_ =
      std::make_shared<URLSessionTransport>(realtimeURL(server_, "2.0.0"));
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
};

TEST_F(URLSessionTransportTest, StartsClosedAndIgnoresSendsWithoutAConnection) {
  EXPECT_EQ(transport_->readyState(), PhoenixTransportReadyState::closed);
  transport_->send(encodeArrayFrame(std::nullopt, "1", "phoenix", "heartbeat", {}));
  transport_->disconnect(1000, std::nullopt);
  EXPECT_EQ(transport_->readyState(), PhoenixTransportReadyState::closing);
  EXPECT_TRUE(delegate_->calls().empty());
}

TEST_F(URLSessionTransportTest, OpensSendsArrayFramesAndReceivesReplies) {
  transport_->connect({{"X-Client-Info", "realtime-cpp/2.33.2"}});
  EXPECT_NE(transport_->readyState(), PhoenixTransportReadyState::closed);
  ASSERT_TRUE(delegate_->waitForCalls(1));
  EXPECT_EQ(delegate_->calls().front(), "open 101");
  EXPECT_EQ(transport_->readyState(), PhoenixTransportReadyState::open);
  transport_->send(encodeArrayFrame(std::nullopt, "5", "phoenix", "heartbeat", {}));
  ASSERT_TRUE(delegate_->waitForCalls(2));
  const std::string message = delegate_->calls()[1];
  auto reply = decodeArrayFrame(message.substr(std::string("message ").size()));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->ref, "5");
  EXPECT_EQ(reply->status(), PushStatus::ok);
}

TEST_F(URLSessionTransportTest, ReportsTheServersCloseCodeAndReason) {
  transport_->connect({});
  ASSERT_TRUE(delegate_->waitForCalls(1));
  server_.realtime().hub().close(firstOf(server_.realtime().hub().sockets(), "the hub's sockets"),
                                 4001, "maintenance");
  ASSERT_TRUE(delegate_->waitForCalls(2));
  EXPECT_EQ(delegate_->calls()[1], "close 4001 maintenance");
  EXPECT_EQ(transport_->readyState(), PhoenixTransportReadyState::closed);
}

TEST_F(URLSessionTransportTest, DisconnectClosesWithTheCodeAndNoReason) {
  transport_->connect({});
  ASSERT_TRUE(delegate_->waitForCalls(1));
  transport_->disconnect(1000, std::nullopt);
  EXPECT_EQ(transport_->readyState(), PhoenixTransportReadyState::closing);
  ASSERT_TRUE(delegate_->waitForCalls(2));
  EXPECT_EQ(delegate_->calls()[1], "close 1000") << delegate_->lastError();
  EXPECT_EQ(transport_->readyState(), PhoenixTransportReadyState::closed);
}

TEST_F(URLSessionTransportTest, ADroppedConnectionIsAnErrorThenClose999) {
  transport_->connect({});
  ASSERT_TRUE(delegate_->waitForCalls(1));
  server_.realtime().hub().drop(firstOf(server_.realtime().hub().sockets(), "the hub's sockets"));
  ASSERT_TRUE(delegate_->waitForCalls(3));
  const auto calls = delegate_->calls();
  EXPECT_EQ(calls[1], "error 0");  // after the opening there is no response to report
  EXPECT_EQ(calls[2], "close 999 " + delegate_->lastError());
  EXPECT_EQ(transport_->readyState(), PhoenixTransportReadyState::closed);
}

TEST_F(URLSessionTransportTest, ARefusedHandshakeReportsTheResponse) {
  auto refused =
      std::make_shared<URLSessionTransport>(realtimeURL(server_, "2.0.0", false, "wrong-key"));
  refused->setDelegate(delegate_);
  refused->connect({});
  ASSERT_TRUE(delegate_->waitForCalls(2));
  EXPECT_EQ(delegate_->calls()[0], "error 401");
  EXPECT_EQ(delegate_->calls()[1].substr(0, 10), "close 999 ");
  EXPECT_EQ(refused->readyState(), PhoenixTransportReadyState::closed);
}

TEST_F(URLSessionTransportTest, DropsBinaryMessages) {
  transport_->connect({});
  ASSERT_TRUE(delegate_->waitForCalls(1));
  const auto id = firstOf(server_.realtime().hub().sockets(), "the hub's sockets");
  server_.realtime().hub().sendRaw(id, "binary", true);
  server_.realtime().hub().sendRaw(id, "text");
  ASSERT_TRUE(delegate_->waitForCalls(2));
  EXPECT_EQ(delegate_->calls()[1], "message text");
}

}  // namespace
}  // namespace voduzazi::realtime
