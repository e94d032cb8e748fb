#include "tests/realtime/realtime_backend.hpp"

#include <boost/json/parse.hpp>

namespace voduzazi::testing {

boost::urls::url realtimeURL(const local_backend::Server& server, std::string_view vsn, bool tls,
                             std::string apikey) {
  std::string base = tls ? server.tlsUrl() : server.url();
  base.replace(0, base.find(':'), tls ? "wss" : "ws");
  boost::urls::url url(base + "/realtime/v1/websocket");
  url.params().append({"apikey", apikey.empty() ? server.anonKey() : apikey});
  url.params().append({"vsn", vsn});
  return url;
}

bool waitUntil(std::mutex& mutex, std::condition_variable& changed,
               const std::function<bool()>& ready, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex);
  return changed.wait_for(lock, timeout, ready);
}

EventRecorder::EventRecorder(realtime::WebSocket& socket) : socket_(socket) {
  socket.setOnEvent([this](const realtime::WebSocketEvent& event) {
    {
      std::lock_guard lock(mutex_);
      events_.push_back(event);
    }
    changed_.notify_all();
  });
}

EventRecorder::Events EventRecorder::events() const {
  std::lock_guard lock(mutex_);
  return events_;
}

std::vector<boost::json::object> EventRecorder::frames() const {
  std::vector<boost::json::object> frames;
  for (const auto& event : events()) {
    const auto* text = std::get_if<realtime::WebSocketEvent::Text>(&event.kind);
    if (text == nullptr) continue;
    boost::system::error_code error;
    auto json = boost::json::parse(text->text, error);
    if (!error && json.is_object()) frames.push_back(json.as_object());
  }
  return frames;
}

bool EventRecorder::waitFor(const std::function<bool(const Events&)>& ready,
                            std::chrono::milliseconds timeout) {
  return waitUntil(
      mutex_, changed_, [&] { return ready(events_); }, timeout);
}

boost::json::object EventRecorder::waitForFrame(
    const std::function<bool(const boost::json::object&)>& match) {
  boost::json::object found;
  waitFor([&](const Events&) {
    // frames() takes the lock itself: look at a copy made here instead.
    for (const auto& event : events_) {
      const auto* text = std::get_if<realtime::WebSocketEvent::Text>(&event.kind);
      if (text == nullptr) continue;
      boost::system::error_code error;
      auto json = boost::json::parse(text->text, error);
      if (!error && json.is_object() && match(json.as_object())) {
        found = json.as_object();
        return true;
      }
    }
    return false;
  });
  return found;
}

std::optional<realtime::WebSocketEvent::Close> EventRecorder::waitForClose() {
  std::optional<realtime::WebSocketEvent::Close> close;
  waitFor([&](const Events& all) {
    for (const auto& event : all) {
      if (const auto* c = std::get_if<realtime::WebSocketEvent::Close>(&event.kind)) close = *c;
    }
    return close.has_value();
  });
  return close;
}

}  // namespace voduzazi::testing
