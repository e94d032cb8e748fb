#include "voduzazi/realtime/web_socket.hpp"

#include <gtest/gtest.h>

#include <boost/asio/error.hpp>
#include <boost/json/serialize.hpp>

#include "tests/realtime/realtime_backend.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "tests/realtime/tls_identity.hpp"

namespace voduzazi::realtime {
namespace {

using voduzazi::testing::EventRecorder;
using voduzazi::testing::realtimeURL;

constexpr std::string_view kHeartbeat =
    R"({"topic":"phoenix","event":"heartbeat","payload":{},"ref":"7"})";

bool isReplyTo(const boost::json::object& frame, std::string_view ref) {
  const auto* got = frame.if_contains("ref");
  return frame.at("event") == "phx_reply" && got != nullptr && got->is_string() &&
         got->as_string() == ref;
}

local_backend::ServerOptions withTls(const voduzazi::testing::TestTlsIdentity& identity) {
  local_backend::ServerOptions options;
  options.tls = local_backend::TlsIdentity{identity.certificatePem, identity.privateKeyPem};
  return options;
}

class URLSessionWebSocketTest : public ::testing::Test {
 protected:
  std::uint64_t onlySocket() {
    const auto sockets = server_.realtime().hub().sockets();
    EXPECT_EQ(sockets.size(), 1u);
    return sockets.empty() ? 0 : sockets.front();
  }

  local_backend::Server server_;
};

TEST_F(URLSessionWebSocketTest, ExchangesFramesOverPlainWebSockets) {
  auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"));
  EventRecorder events(*socket);
  socket->send(std::string(kHeartbeat));
  auto reply = events.waitForFrame([](const auto& f) { return isReplyTo(f, "7"); });
  ASSERT_FALSE(reply.empty());
  EXPECT_EQ(reply.at("payload").at("status"), "ok");
  EXPECT_EQ(socket->protocol(), "");
  EXPECT_FALSE(socket->isClosed());
}

TEST_F(URLSessionWebSocketTest, SendsTheConfiguredHeadersWithTheHandshake) {
  WebSocketTaskConfiguration configuration;
  configuration.additionalHeaders = {{"X-Client-Info", "realtime-cpp/2.33.2"},
                                     {"Authorization", "Bearer abc"}};
  auto socket =
      URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"), std::nullopt, configuration);
  auto headers = server_.realtime().hub().handshakeHeaders(onlySocket());
  ASSERT_TRUE(headers);
  auto has = [&](std::string_view name, std::string_view value) {
    for (const auto& [n, v] : *headers) {
      if (boost::beast::iequals(n, name) && v == value) return true;
    }
    return false;
  };
  EXPECT_TRUE(has("x-client-info", "realtime-cpp/2.33.2"));
  EXPECT_TRUE(has("authorization", "Bearer abc"));
}

TEST_F(URLSessionWebSocketTest, EnqueuedMessagesLeaveInOrderWithoutWaiting) {
  auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"));
  EventRecorder events(*socket);
  for (int ref = 1; ref <= 3; ++ref) {
    socket->enqueue(R"({"topic":"phoenix","event":"heartbeat","payload":{},"ref":")" +
                    std::to_string(ref) + R"("})");
  }
  ASSERT_TRUE(events.waitFor([](const auto& all) { return all.size() == 3; }));
  const auto frames = events.frames();
  for (std::size_t i = 0; i < frames.size(); ++i) {
    EXPECT_TRUE(isReplyTo(frames[i], std::to_string(i + 1)));
  }
}

TEST_F(URLSessionWebSocketTest, ReportsTextAndBinaryMessagesInOrder) {
  auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"));
  EventRecorder events(*socket);
  const auto id = onlySocket();
  server_.realtime().hub().sendRaw(id, "first");
  server_.realtime().hub().sendRaw(id, std::string("\x00\x01", 2), true);
  server_.realtime().hub().sendRaw(id, "last");
  ASSERT_TRUE(events.waitFor([](const auto& all) { return all.size() == 3; }));
  EXPECT_EQ(events.events(), (EventRecorder::Events{WebSocketEvent::text("first"),
                                                    WebSocketEvent::binary(std::string("\0\1", 2)),
                                                    WebSocketEvent::text("last")}));
}

TEST_F(URLSessionWebSocketTest, DeliversTheServersCloseCodeAndReasonOnce) {
  auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"));
  auto stream = socket->events();
  server_.realtime().hub().close(onlySocket(), 4000, "going away now");
  auto event = stream.next();
  ASSERT_TRUE(event);
  EXPECT_EQ(*event, WebSocketEvent::close(4000, "going away now"));
  EXPECT_FALSE(stream.next());  // the stream finishes right after the close event
  EXPECT_TRUE(socket->isClosed());
  EXPECT_EQ(socket->closeCode(), 4000);
  EXPECT_EQ(socket->closeReason(), "going away now");
  socket->close(1000, "ignored");  // after the close event: nothing happens
}

TEST_F(URLSessionWebSocketTest, AStreamAskedForOnceTheCloseEventHasGoneFinishesAtOnce) {
  auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"));
  server_.realtime().hub().close(onlySocket(), 4000, "going away now");
  ASSERT_TRUE(voduzazi::testing::eventually([&] { return socket->isClosed(); }));
  // No close event will come any more.
  Task<bool> reading([stream = socket->events()] { return stream.next().has_value(); });
  ASSERT_TRUE(voduzazi::testing::eventually([&] { return reading.isFinished(); }));
  EXPECT_FALSE(reading.value());
}

TEST_F(URLSessionWebSocketTest, ANewerStreamTakesOverAndOnlyACancelledReaderLetsGo) {
  using voduzazi::testing::eventually;
  auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"));
  const auto id = onlySocket();
  Task<bool> older([stream = socket->events()] { return stream.next().has_value(); });
  auto newer = socket->events();
  ASSERT_TRUE(eventually([&] { return older.isFinished(); }));
  EXPECT_FALSE(older.value());  // ended by the newer one, whose listener stays
  server_.realtime().hub().sendRaw(id, "a");
  EXPECT_EQ(newer.next(), WebSocketEvent::text("a"));

  Task<bool> cancelled([stream = std::move(newer)] { return stream.next().has_value(); });
  cancelled.cancel();
  ASSERT_TRUE(eventually([&] { return cancelled.isFinished(); }));
  EXPECT_FALSE(cancelled.value());
  server_.realtime().hub().sendRaw(id, "b");  // no listener: buffered for the next one
  EventRecorder events(*socket);
  ASSERT_TRUE(events.waitFor([](const auto& all) { return !all.empty(); }));
  EXPECT_EQ(events.events().front(), WebSocketEvent::text("b"));
}

TEST_F(URLSessionWebSocketTest, AnAbruptDropIsAnAbnormalClose) {
  auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"));
  EventRecorder events(*socket);
  server_.realtime().hub().drop(onlySocket());
  auto close = events.waitForClose();
  ASSERT_TRUE(close);
  EXPECT_EQ(close->code, 1006);
  EXPECT_EQ(events.events().size(), 1u);
}

TEST_F(URLSessionWebSocketTest, ClosingSendsTheCodeAndReasonToTheServer) {
  auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"));
  EventRecorder events(*socket);
  socket->close(3001, "done here");
  auto close = events.waitForClose();
  ASSERT_TRUE(close);
  // The server answers a close frame with the same code.
  EXPECT_EQ(close->code, 3001);
  EXPECT_THROW(URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"))->close(999, ""),
               std::invalid_argument);
  EXPECT_THROW(URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"))
                   ->close(1000, std::string(124, 'x')),
               std::invalid_argument);
}

TEST_F(URLSessionWebSocketTest, ARefusedHandshakeThrowsWithTheServersAnswer) {
  try {
    URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0", false, "not-a-key"));
    FAIL() << "connected with a bad key";
  } catch (const WebSocketError& error) {
    EXPECT_EQ(error.message(), "connection ended unexpectedly");
    ASSERT_TRUE(error.error().response());
    EXPECT_EQ(error.error().response()->statusCode(), 401);
  }
  EXPECT_THROW(URLSessionWebSocket::connect(boost::urls::url("http://127.0.0.1/")),
               std::invalid_argument);
}

TEST_F(URLSessionWebSocketTest, EventsBeforeAListenerAreReplayedInOrder) {
  auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"));
  const auto id = onlySocket();
  for (const char* text : {"a", "b", "c"}) server_.realtime().hub().sendRaw(id, text);
  EventRecorder events(*socket);  // whatever arrived so far comes first
  ASSERT_TRUE(events.waitFor([](const auto& all) { return all.size() == 3; }));
  EXPECT_EQ(events.events(),
            (EventRecorder::Events{WebSocketEvent::text("a"), WebSocketEvent::text("b"),
                                   WebSocketEvent::text("c")}));
}

TEST(URLSessionWebSocketCloseMapping, MapsTransportFailuresToCloseCodes) {
  auto mapped = [](boost::system::error_code code) {
    return URLSessionWebSocket::closeFor(WebSocketTaskError(code, "described"));
  };
  EXPECT_EQ(mapped(make_error_code(std::errc::not_connected)), std::nullopt);
  EXPECT_EQ(mapped(make_error_code(std::errc::protocol_error)),
            (std::pair<int, std::string>{1002, "described"}));
  EXPECT_EQ(mapped(make_error_code(std::errc::timed_out))->second, "Connection timed out");
  EXPECT_EQ(mapped(boost::asio::error::eof)->second, "Network connection lost");
  EXPECT_EQ(mapped(make_error_code(std::errc::connection_reset))->second,
            "Network connection lost");
  EXPECT_EQ(mapped(make_error_code(std::errc::network_unreachable))->second,
            "No internet connection");
  EXPECT_EQ(mapped(make_error_code(std::errc::permission_denied)),
            (std::pair<int, std::string>{1006, "described"}));
}

TEST(URLSessionWebSocketEvents, CloseEventsCompareCodeThenReason) {
  EXPECT_EQ(WebSocketEvent::close(std::nullopt, ""), WebSocketEvent::close(std::nullopt, ""));
  EXPECT_NE(WebSocketEvent::close(1000, ""), WebSocketEvent::close(std::nullopt, ""));
  EXPECT_NE(WebSocketEvent::text("x"), WebSocketEvent::binary("x"));
  EXPECT_EQ(WebSocketEvent::close(1000, "r").hashValue(),
            WebSocketEvent::close(1000, "r").hashValue());
  EXPECT_NE(WebSocketEvent::text("x").hashValue(), WebSocketEvent::binary("x").hashValue());
}

class SecureWebSocketTest : public ::testing::Test {
 protected:
  voduzazi::testing::TestTlsIdentity identity_ = voduzazi::testing::makeSelfSignedIdentity();
  local_backend::Server server_{withTls(identity_)};
};

TEST_F(SecureWebSocketTest, ExchangesFramesOverTlsWithAVerifiedCertificate) {
  WebSocketTaskConfiguration configuration;
  configuration.additionalTrustedCertificates = identity_.certificatePem;
  auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0", true), std::nullopt,
                                             configuration);
  EventRecorder events(*socket);
  socket->send(std::string(kHeartbeat));
  EXPECT_FALSE(events.waitForFrame([](const auto& f) { return isReplyTo(f, "7"); }).empty());
  socket->close(1000, std::nullopt);
  EXPECT_EQ(events.waitForClose()->code, 1000);
}

TEST_F(SecureWebSocketTest, RefusesAnUntrustedCertificate) {
  EXPECT_THROW(URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0", true)), WebSocketError);
}

}  // namespace
}  // namespace voduzazi::realtime
