#include "tests/realtime/fake_web_socket.hpp"

#include <algorithm>
#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>
#include <chrono>
#include <cmath>

namespace voduzazi::testing {

namespace json = boost::json;
using realtime::WebSocketEvent;

namespace {

constexpr auto kPatience = std::chrono::seconds(10);
// How long a held request waits for release() before it is answered anyway.
constexpr auto kHeldAtMost = std::chrono::seconds(60);

bool hasEvent(const json::object& frame, std::string_view event) {
  const auto* found = frame.if_contains("event");
  return found != nullptr && found->is_string() && found->as_string() == event;
}

}  // namespace

void FakeWebSocket::setOnEvent(realtime::WebSocketEventHandler handler) {
  std::lock_guard lock(mutex_);
  if (closed_) return;  // as the real one: nothing will come
  onEvent_ = std::move(handler);
  if (!onEvent_) return;
  auto buffered = std::move(buffer_);
  buffer_.clear();
  auto listener = onEvent_;
  for (const auto& event : buffered) listener(event);
}

void FakeWebSocket::deliver(const WebSocketEvent& event) {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  if (onEvent_) {
    auto listener = onEvent_;
    listener(event);
  } else {
    buffer_.push_back(event);
  }
  if (event.isClose()) {
    const auto& close = std::get<WebSocketEvent::Close>(event.kind);
    closed_ = true;
    closeCode_ = close.code;
    closeReason_ = close.reason;
    onEvent_ = nullptr;
    buffer_.clear();
  }
}

void FakeWebSocket::send(const std::string& text) {
  Responder responder;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    sent_.push_back(text);
    responder = responder_;
  }
  changed_.notify_all();
  if (!responder) return;
  const json::value parsed = json::parse(text);
  for (const auto& answer : responder(parsed.as_object())) receive(answer);
}

void FakeWebSocket::close(std::optional<int> code, std::optional<std::string> reason) {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closedWith_.emplace(code, reason);
  }
  changed_.notify_all();
  deliver(WebSocketEvent::close(code, reason.value_or("")));
}

bool FakeWebSocket::isClosed() const {
  std::lock_guard lock(mutex_);
  return closed_;
}

std::optional<int> FakeWebSocket::closeCode() const {
  std::lock_guard lock(mutex_);
  return closeCode_;
}

std::optional<std::string> FakeWebSocket::closeReason() const {
  std::lock_guard lock(mutex_);
  return closeReason_;
}

void FakeWebSocket::receive(const std::string& text) { deliver(WebSocketEvent::text(text)); }

void FakeWebSocket::receiveBinary(const std::string& data) {
  deliver(WebSocketEvent::binary(data));
}

void FakeWebSocket::serverClose(std::optional<int> code, std::string reason) {
  deliver(WebSocketEvent::close(code, std::move(reason)));
}

void FakeWebSocket::die() {
  std::lock_guard lock(mutex_);
  closed_ = true;
}

void FakeWebSocket::respond(Responder responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

std::vector<std::string> FakeWebSocket::sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

std::vector<json::object> FakeWebSocket::sentFrames() const {
  std::vector<json::object> frames;
  for (const auto& text : sent()) frames.push_back(json::parse(text).as_object());
  return frames;
}

json::object FakeWebSocket::waitForFrame(const std::function<bool(const json::object&)>& match) {
  std::unique_lock lock(mutex_);
  json::object found;
  changed_.wait_for(lock, kPatience, [&] {
    for (const auto& text : sent_) {
      auto frame = json::parse(text).as_object();
      if (match(frame)) {
        found = std::move(frame);
        return true;
      }
    }
    return false;
  });
  return found;
}

json::object FakeWebSocket::waitForEvent(std::string_view event, std::size_t index) {
  std::unique_lock lock(mutex_);
  json::object found;
  changed_.wait_for(lock, kPatience, [&] {
    std::size_t seen = 0;
    for (const auto& text : sent_) {
      auto frame = json::parse(text).as_object();
      if (!hasEvent(frame, event)) continue;
      if (seen++ == index) {
        found = std::move(frame);
        return true;
      }
    }
    return false;
  });
  return found;
}

std::size_t FakeWebSocket::countEvents(std::string_view event) const {
  std::size_t count = 0;
  for (const auto& frame : sentFrames()) count += hasEvent(frame, event) ? 1 : 0;
  return count;
}

std::optional<std::pair<std::optional<int>, std::optional<std::string>>> FakeWebSocket::closedWith()
    const {
  std::lock_guard lock(mutex_);
  return closedWith_;
}

realtime::RealtimeClientV2::WebSocketTransport FakeTransport::function() {
  return [self = shared_from_this()](const boost::urls::url& url, const HeaderDictionary& headers) {
    return self->open(url, headers);
  };
}

std::shared_ptr<realtime::WebSocket> FakeTransport::open(const boost::urls::url& url,
                                                         const HeaderDictionary& headers) {
  std::shared_ptr<FakeWebSocket> socket;
  {
    std::lock_guard lock(mutex_);
    ++attempts_;
    lastURL_ = url;
    lastHeaders_ = headers;
    if (failures_ > 0) {
      --failures_;
      changed_.notify_all();
      throw std::runtime_error("connection refused");
    }
    socket = std::make_shared<FakeWebSocket>();
    if (responder_) socket->respond(responder_);
    sockets_.push_back(socket);
  }
  changed_.notify_all();
  return socket;
}

void FakeTransport::failNext(int count) {
  std::lock_guard lock(mutex_);
  failures_ = count;
}

void FakeTransport::respondWith(FakeWebSocket::Responder responder) {
  std::lock_guard lock(mutex_);
  responder_ = std::move(responder);
}

std::vector<std::shared_ptr<FakeWebSocket>> FakeTransport::sockets() const {
  std::lock_guard lock(mutex_);
  return sockets_;
}

std::shared_ptr<FakeWebSocket> FakeTransport::waitForSocket(std::size_t count) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, kPatience, [&] { return sockets_.size() >= count; })) {
    return nullptr;
  }
  return sockets_[count - 1];
}

int FakeTransport::attempts() const {
  std::lock_guard lock(mutex_);
  return attempts_;
}

std::optional<boost::urls::url> FakeTransport::lastURL() const {
  std::lock_guard lock(mutex_);
  return lastURL_;
}

std::optional<HeaderDictionary> FakeTransport::lastHeaders() const {
  std::lock_guard lock(mutex_);
  return lastHeaders_;
}

helpers::HTTPResponse RecordingHTTPClient::send(const helpers::HTTPRequest& request) {
  std::unique_lock lock(mutex_);
  requests_.push_back(request);
  changed_.notify_all();
  // A runtime wait: a task whose request is held counts as waiting, as one whose server has not
  // answered yet would, so that advancing the test clock meanwhile does not wait for it.
  released_.waitUntil(lock, std::stop_token(), std::chrono::steady_clock::now() + kHeldAtMost,
                      [&] { return !held_; });
  if (error_) std::rethrow_exception(error_);
  return helpers::HTTPResponse(
      "", std::make_shared<HTTPURLResponse>(request.url, status_, HeaderFieldList{}));
}

std::vector<helpers::HTTPRequest> RecordingHTTPClient::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void RecordingHTTPClient::hold() {
  std::lock_guard lock(mutex_);
  held_ = true;
}

void RecordingHTTPClient::release() {
  std::lock_guard lock(mutex_);
  held_ = false;
  released_.notifyAll();
}

void RecordingHTTPClient::setStatus(int status) {
  std::lock_guard lock(mutex_);
  status_ = status;
}

void RecordingHTTPClient::failWith(std::exception_ptr error) {
  std::lock_guard lock(mutex_);
  error_ = std::move(error);
}

void CountingSleeper::sleep(double seconds) {
  std::uint64_t id = 0;
  {
    std::lock_guard lock(mutex_);
    id = ++nextID_;
    const auto interval = std::chrono::duration_cast<Duration>(
        std::chrono::duration<double>(std::isfinite(seconds) ? std::max(seconds, 0.0) : 0.0));
    entries_.push_back({id, seconds, clock_->now().advanced(interval)});
    intervals_.push_back(seconds);
  }
  changed_.notify_all();
  struct Awake {
    CountingSleeper& sleeper;
    std::uint64_t id;
    ~Awake() {
      {
        std::lock_guard lock(sleeper.mutex_);
        std::erase_if(sleeper.entries_, [&](const Entry& entry) { return entry.id == id; });
      }
      sleeper.changed_.notify_all();
    }
  } awake{*this, id};
  inner_.sleep(seconds);
}

bool CountingSleeper::pending(const Entry& entry) const {
  return clock_->now().offset < entry.deadline.offset;
}

int CountingSleeper::sleeping() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(
      std::count_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return pending(e); }));
}

std::vector<double> CountingSleeper::intervals() const {
  std::lock_guard lock(mutex_);
  return intervals_;
}

bool CountingSleeper::waitForSleep(double seconds) const {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, kPatience, [&] {
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& entry) {
      return pending(entry) && entry.seconds <= seconds && entry.seconds > seconds - 0.5;
    });
  });
}

std::string replyTo(const json::object& frame, std::string_view status, json::object response) {
  json::object reply{
      {"topic", frame.at("topic")},
      {"event", "phx_reply"},
      {"payload", json::object{{"status", status}, {"response", std::move(response)}}}};
  if (const auto* ref = frame.if_contains("ref")) reply["ref"] = *ref;
  if (const auto* joinRef = frame.if_contains("join_ref")) reply["join_ref"] = *joinRef;
  return json::serialize(reply);
}

std::string serverFrame(std::string_view topic, std::string_view event, json::object payload,
                        std::optional<std::string> joinRef) {
  json::object frame{{"topic", topic}, {"event", event}, {"payload", std::move(payload)}};
  if (joinRef) frame["join_ref"] = *joinRef;
  return json::serialize(frame);
}

FakeWebSocket::Responder friendlyServer() {
  return [](const json::object& frame) -> std::vector<std::string> {
    const auto event = frame.at("event").as_string();
    if (event == "heartbeat") return {replyTo(frame, "ok")};
    if (event == "phx_join") {
      json::array confirmed;
      std::int64_t id = 0;
      const auto& config = frame.at("payload").at("config").as_object();
      for (const auto& change : config.at("postgres_changes").as_array()) {
        auto entry = change.as_object();
        entry["id"] = ++id;
        confirmed.push_back(std::move(entry));
      }
      return {replyTo(frame, "ok", json::object{{"postgres_changes", std::move(confirmed)}})};
    }
    if (event == "phx_leave") {
      std::optional<std::string> joinRef;
      if (const auto* ref = frame.if_contains("join_ref")) joinRef = ref->as_string().c_str();
      return {replyTo(frame, "ok"),
              serverFrame(frame.at("topic").as_string(), "phx_close", {}, joinRef)};
    }
    return {};
  };
}

}  // namespace voduzazi::testing
