// Test doubles for the second-generation realtime client: an in-memory websocket that records
// what the client sends and lets a test deliver frames, a transport that opens such sockets (or
// fails on demand), an HTTP client that records requests, and a sleep clock over a TestClock
// that counts its sleepers.
//
//   FakeTransport transport;
//   auto client = RealtimeClientV2::make(url, options, transport.function(), http);
//   auto socket = transport.waitForSocket(1);
//   socket->respond([](const json::object& frame) -> std::optional<std::string> { ... });
//   socket->receive(R"({"topic":"realtime:room","event":"phx_close","payload":{}})");
#pragma once

#include <boost/json/object.hpp>
#include <boost/url/url.hpp>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/clocks/test_clock.hpp"
#include "voduzazi/concurrency/detail/wait_queue.hpp"
#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/helpers/sleep_clock.hpp"
#include "voduzazi/realtime/realtime_client_v2.hpp"

namespace voduzazi::testing {

// Shared objects: safe.
class FakeWebSocket final : public realtime::WebSocket {
 public:
  // Answers a sent frame (parsed) with frames to deliver back, in order.
  using Responder = std::function<std::vector<std::string>(const boost::json::object& frame)>;

  void setOnEvent(realtime::WebSocketEventHandler handler) override;
  void send(const std::string& text) override;
  void close(std::optional<int> code, std::optional<std::string> reason) override;
  bool isClosed() const override;
  std::optional<int> closeCode() const override;
  std::optional<std::string> closeReason() const override;
  std::string protocol() const override { return ""; }

  // Delivers a frame from the server (buffered while no listener is set).
  void receive(const std::string& text);
  void receiveBinary(const std::string& data);
  // The server closes: a close event, then the socket counts as closed.
  void serverClose(std::optional<int> code, std::string reason);
  // Marks the socket closed without any event (a connection that died silently).
  void die();
  void respond(Responder responder);

  std::vector<std::string> sent() const;
  std::vector<boost::json::object> sentFrames() const;
  // Waits up to 10 s for a sent frame `match` accepts; returns it, or an empty object.
  boost::json::object waitForFrame(const std::function<bool(const boost::json::object&)>& match);
  // The `index`-th sent frame with this event (0 is the first), waiting up to 10 s.
  boost::json::object waitForEvent(std::string_view event, std::size_t index = 0);
  std::size_t countEvents(std::string_view event) const;
  // What close() was called with, once it was.
  std::optional<std::pair<std::optional<int>, std::optional<std::string>>> closedWith() const;

 private:
  void deliver(const realtime::WebSocketEvent& event);

  mutable std::recursive_mutex mutex_;
  std::condition_variable_any changed_;
  realtime::WebSocketEventHandler onEvent_;
  std::vector<realtime::WebSocketEvent> buffer_;
  std::vector<std::string> sent_;
  Responder responder_;
  bool closed_ = false;
  std::optional<int> closeCode_;
  std::optional<std::string> closeReason_;
  std::optional<std::pair<std::optional<int>, std::optional<std::string>>> closedWith_;
};

// Opens FakeWebSockets; shared objects: safe.
class FakeTransport : public std::enable_shared_from_this<FakeTransport> {
 public:
  realtime::RealtimeClientV2::WebSocketTransport function();

  // The next `count` openings throw.
  void failNext(int count);
  // Every new socket gets this responder.
  void respondWith(FakeWebSocket::Responder responder);
  std::vector<std::shared_ptr<FakeWebSocket>> sockets() const;
  // The `count`-th socket opened (from 1), waiting up to 10 s; null when it never came.
  std::shared_ptr<FakeWebSocket> waitForSocket(std::size_t count);
  int attempts() const;
  std::optional<boost::urls::url> lastURL() const;
  std::optional<HeaderDictionary> lastHeaders() const;

 private:
  std::shared_ptr<realtime::WebSocket> open(const boost::urls::url& url,
                                            const HeaderDictionary& headers);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::shared_ptr<FakeWebSocket>> sockets_;
  FakeWebSocket::Responder responder_;
  int failures_ = 0;
  int attempts_ = 0;
  std::optional<boost::urls::url> lastURL_;
  std::optional<HeaderDictionary> lastHeaders_;
};

// Records requests and answers each with `status`; shared objects: safe.
class RecordingHTTPClient final : public HTTPClientType {
 public:
  explicit RecordingHTTPClient(int status = 202) : status_(status) {}
  helpers::HTTPResponse send(const helpers::HTTPRequest& request) override;
  std::vector<helpers::HTTPRequest> requests() const;
  // Requests wait until release() when held (a minute at most).
  void hold();
  void release();
  void setStatus(int status);
  void failWith(std::exception_ptr error);

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  voduzazi::detail::WaitQueue released_;
  std::vector<helpers::HTTPRequest> requests_;
  int status_;
  bool held_ = false;
  std::exception_ptr error_;
};

// Sleeps on a TestClock and keeps track of who sleeps, so that a test can wait until a task
// sleeps before it moves the clock. Install it with setCurrentClock.
class CountingSleeper final : public SleepClock {
 public:
  explicit CountingSleeper(std::shared_ptr<TestClock> clock) : clock_(clock), inner_(clock) {}
  void sleep(double seconds) override;
  // Sleeps whose deadline the clock has not reached.
  int sleeping() const;
  // The intervals asked for so far, in order.
  std::vector<double> intervals() const;
  // Waits up to 10 s for a pending sleep of about `seconds` (within half a second below).
  bool waitForSleep(double seconds) const;

 private:
  struct Entry {
    std::uint64_t id;
    double seconds;
    TestClock::Instant deadline;
  };
  bool pending(const Entry& entry) const;

  std::shared_ptr<TestClock> clock_;
  ClockSleeper<TestClock> inner_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::uint64_t nextID_ = 0;
  std::vector<Entry> entries_;
  std::vector<double> intervals_;
};

// The client's frames for a reply: {"join_ref", "ref", "topic", "event": "phx_reply",
// "payload": {"status", "response"}}.
std::string replyTo(const boost::json::object& frame, std::string_view status,
                    boost::json::object response = {});
// A frame the server pushes on a topic.
std::string serverFrame(std::string_view topic, std::string_view event, boost::json::object payload,
                        std::optional<std::string> joinRef = {});
// A responder that answers heartbeats and joins ("ok", echoing the join's postgres changes with
// ids from 1) and leaves (a reply, then "phx_close").
FakeWebSocket::Responder friendlyServer();

}  // namespace voduzazi::testing
