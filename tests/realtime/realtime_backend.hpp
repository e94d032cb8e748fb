// What the realtime end-to-end tests share: the websocket URL of an in-process stand-in backend,
// and a recorder of websocket events that tests wait on with a deadline.
//
//   auto socket = URLSessionWebSocket::connect(realtimeURL(server_, "1.0.0"));
//   EventRecorder events(*socket);
//   ASSERT_TRUE(events.waitFor([](const auto& all) { return all.size() == 2; }));
#pragma once

#include <boost/json/object.hpp>
#include <boost/url/url.hpp>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "local_backend/realtime_service.hpp"
#include "local_backend/server.hpp"
#include "voduzazi/realtime/web_socket.hpp"

namespace voduzazi::testing {

// "ws://127.0.0.1:PORT/realtime/v1/websocket?apikey=...&vsn=..." (wss on the TLS port when
// `tls`); `apikey` empty means the server's anonymous key.
boost::urls::url realtimeURL(const local_backend::Server& server, std::string_view vsn,
                             bool tls = false, std::string apikey = {});

// Waits up to `timeout` for `ready`, checking again whenever `changed` is notified.
bool waitUntil(std::mutex& mutex, std::condition_variable& changed,
               const std::function<bool()>& ready,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Records every event of a socket from construction on. Shared objects: safe. Lifetime: the
// socket must outlive it (the destructor removes the listener).
class EventRecorder {
 public:
  using Events = std::vector<realtime::WebSocketEvent>;

  explicit EventRecorder(realtime::WebSocket& socket);
  ~EventRecorder() { socket_.setOnEvent(nullptr); }
  EventRecorder(const EventRecorder&) = delete;
  EventRecorder& operator=(const EventRecorder&) = delete;

  Events events() const;
  // The text events parsed as JSON objects (others are skipped).
  std::vector<boost::json::object> frames() const;
  bool waitFor(const std::function<bool(const Events&)>& ready,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // Waits for a text frame (a JSON object) that `match` accepts and returns it; null on timeout.
  boost::json::object waitForFrame(const std::function<bool(const boost::json::object&)>& match);
  // Waits for the close event.
  std::optional<realtime::WebSocketEvent::Close> waitForClose();

 private:
  realtime::WebSocket& socket_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Events events_;
};

}  // namespace voduzazi::testing
