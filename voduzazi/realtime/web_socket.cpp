#include "voduzazi/realtime/web_socket.hpp"

#include <boost/asio/error.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/websocket/error.hpp>
#include <future>
#include <stdexcept>
#include <stop_token>
#include <system_error>

#include "voduzazi/concurrency/this_task.hpp"
#include "voduzazi/realtime/detail/utf8_lossy.hpp"

namespace voduzazi::realtime {

namespace {

template <class T>
void hashCombine(std::size_t& seed, const T& value) {
  seed ^= std::hash<T>{}(value) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}

bool isOneOf(const boost::system::error_code& error, std::initializer_list<std::errc> codes) {
  for (auto code : codes) {
    if (error == code) return true;
  }
  return false;
}

}  // namespace

std::size_t WebSocketEvent::hashValue() const {
  std::size_t seed = kind.index();
  std::visit(
      [&seed](const auto& event) {
        using E = std::decay_t<decltype(event)>;
        if constexpr (std::is_same_v<E, Text>) {
          hashCombine(seed, event.text);
        } else if constexpr (std::is_same_v<E, Binary>) {
          hashCombine(seed, event.data);
        } else {
          hashCombine(seed, event.code.has_value());
          if (event.code) hashCombine(seed, *event.code);
          hashCombine(seed, event.reason);
        }
      },
      kind);
  return seed;
}

WebSocketError::WebSocketError(std::string message, WebSocketTaskError error)
    : message_(std::move(message)),
      error_(std::move(error)),
      description_(message_ + " " + error_.localizedDescription()) {}

namespace {

// The producer side of one events() stream, held by its listener alone. When the listener goes
// without a close event (the socket dropped, the listener replaced, or never kept by a closed
// socket), the stream finishes, so that no reader waits for an event that cannot come.
struct EventsProducer {
  explicit EventsProducer(AsyncStream<WebSocketEvent>::Continuation continuation)
      : continuation(std::move(continuation)) {}
  ~EventsProducer() { continuation.finish(); }
  EventsProducer(const EventsProducer&) = delete;
  EventsProducer& operator=(const EventsProducer&) = delete;

  const AsyncStream<WebSocketEvent>::Continuation continuation;
};

}  // namespace

AsyncStream<WebSocketEvent> WebSocket::events() {
  auto [stream, continuation] = AsyncStream<WebSocketEvent>::makeStream();
  std::weak_ptr<WebSocket> weak = weak_from_this();
  // Only a consumer that went away still has its listener in place: the close event, or the
  // listener's end, has removed it otherwise (and a later stream's listener must stay).
  continuation.onTermination([weak](Termination why) {
    if (why != Termination::cancelled) return;
    if (auto self = weak.lock()) self->setOnEvent(nullptr);
  });
  setOnEvent([producer = std::make_shared<EventsProducer>(continuation)](
                 const WebSocketEvent& event) {
    producer->continuation.yield(event);
    if (event.isClose()) producer->continuation.finish();
  });
  return std::move(stream);
}

// What the three handlers of one connect call share. The connection belongs to the
// URLSessionWebSocket once it exists: the handlers only reach it while someone holds it.
struct URLSessionWebSocket::ConnectState {
  std::recursive_mutex mutex;
  std::promise<std::shared_ptr<URLSessionWebSocket>> opening;
  bool settled = false;
  std::weak_ptr<WebSocketTask> task;
  std::weak_ptr<URLSessionWebSocket> webSocket;

  std::shared_ptr<URLSessionWebSocket> open() {
    std::lock_guard lock(mutex);
    return webSocket.lock();
  }
};

std::shared_ptr<URLSessionWebSocket> URLSessionWebSocket::connect(
    const boost::urls::url& url, std::optional<std::vector<std::string>> protocols,
    std::optional<WebSocketTaskConfiguration> configuration) {
  if (url.scheme() != "ws" && url.scheme() != "wss") {
    throw std::invalid_argument("a websocket URL must use ws or wss");
  }
  auto state = std::make_shared<ConnectState>();
  auto opened = state->opening.get_future();
  WebSocketTaskDelegate handlers;
  handlers.didOpen = [state](const std::string& protocol) {
    std::lock_guard lock(state->mutex);
    auto task = state->task.lock();
    if (!task) return;
    auto webSocket = std::shared_ptr<URLSessionWebSocket>(new URLSessionWebSocket(task, protocol));
    state->webSocket = webSocket;
    state->settled = true;
    state->opening.set_value(std::move(webSocket));
  };
  handlers.didReceive = [state](const WebSocketMessage& message) {
    if (auto webSocket = state->open()) webSocket->handleMessage(message);
  };
  handlers.didClose = [state](int code, const std::optional<Data>& reason) {
    if (auto webSocket = state->open()) webSocket->closeStep(code, reason);
  };
  handlers.didComplete = [state](const std::optional<WebSocketTaskError>& error) {
    std::lock_guard lock(state->mutex);
    if (state->settled) {
      if (auto webSocket = state->webSocket.lock()) {
        if (error) webSocket->handleError(*error);
        webSocket->closeStep(1006, Data("abnormal close"));
      }
      return;
    }
    state->settled = true;
    state->opening.set_exception(std::make_exception_ptr(WebSocketError(
        "connection ended unexpectedly",
        error.value_or(WebSocketTaskError(make_error_code(std::errc::connection_aborted),
                                          "The connection ended before it opened")))));
  };
  URLRequest request;
  request.url = url;
  // Held here until the opening settles; after it, by the URLSessionWebSocket alone.
  auto task = WebSocketTask::make(
      std::move(request), protocols.value_or(std::vector<std::string>{}),
      configuration.value_or(WebSocketTaskConfiguration{}), std::move(handlers));
  {
    std::lock_guard lock(state->mutex);
    state->task = task;
  }
  task->resume();
  // A cancelled caller (a client being released, say) stops the opening: didComplete then
  // settles it with an error.
  std::stop_callback cancelOpening(this_task::stopToken(), [task] { task->cancel(); });
  return opened.get();
}

void URLSessionWebSocket::setOnEvent(WebSocketEventHandler handler) {
  std::lock_guard lock(mutex_);
  // Closed, nothing will come: the listener is not kept (an events() stream then ends).
  if (state_.isClosed) return;
  state_.onEvent = std::move(handler);
  if (!state_.onEvent || state_.eventBuffer.empty()) return;
  auto buffered = std::move(state_.eventBuffer);
  state_.eventBuffer.clear();
  // A copy: the listener may replace itself while it runs.
  auto listener = state_.onEvent;
  for (const auto& event : buffered) listener(event);
}

void URLSessionWebSocket::enqueue(const std::string& text) {
  std::weak_ptr<URLSessionWebSocket> weak =
      std::static_pointer_cast<URLSessionWebSocket>(shared_from_this());
  task_->send(WebSocketMessage{WebSocketMessage::Kind::text, text},
              [weak](const std::optional<WebSocketTaskError>& error) {
                if (!error) return;
                if (auto self = weak.lock()) self->handleError(*error);
              });
}

void URLSessionWebSocket::send(const std::string& text) {
  auto done = std::make_shared<std::promise<void>>();
  auto finished = done->get_future();
  std::weak_ptr<URLSessionWebSocket> weak =
      std::static_pointer_cast<URLSessionWebSocket>(shared_from_this());
  task_->send(WebSocketMessage{WebSocketMessage::Kind::text, text},
              [weak, done](const std::optional<WebSocketTaskError>& error) {
                if (error) {
                  if (auto self = weak.lock()) self->handleError(*error);
                }
                done->set_value();
              });
  // From the connection's own thread (inside a listener) the completion could never run.
  if (!task_->isConnectionThread()) finished.wait();
}

void URLSessionWebSocket::close(std::optional<int> code, std::optional<std::string> reason) {
  if (isClosed()) return;
  if (code && !(*code == 1000 || (*code >= 3000 && *code <= 4999))) {
    throw std::invalid_argument("a close code must be 1000 or within 3000...4999");
  }
  if (reason && reason->size() > 123) {
    throw std::invalid_argument("a close reason must be at most 123 bytes of UTF-8");
  }
  std::lock_guard lock(mutex_);
  if (state_.isClosed) return;
  if (code) {
    task_->cancel(*code, reason.value_or(""));
  } else {
    task_->cancel();
  }
}

bool URLSessionWebSocket::isClosed() const {
  std::lock_guard lock(mutex_);
  return state_.isClosed;
}

std::optional<int> URLSessionWebSocket::closeCode() const {
  std::lock_guard lock(mutex_);
  return state_.closeCode;
}

std::optional<std::string> URLSessionWebSocket::closeReason() const {
  std::lock_guard lock(mutex_);
  return state_.closeReason;
}

std::optional<std::pair<int, std::string>> URLSessionWebSocket::closeFor(
    const WebSocketTaskError& error) {
  namespace websocket = boost::beast::websocket;
  const auto& code = error.code();
  if (code == std::errc::not_connected) return std::nullopt;
  if (code == std::errc::protocol_error || code == websocket::condition::protocol_violation) {
    return std::pair{1002, error.localizedDescription()};
  }
  if (code == std::errc::timed_out || code == boost::beast::error::timeout) {
    return std::pair{1006, std::string("Connection timed out")};
  }
  if (code == boost::asio::error::eof || code == websocket::error::closed ||
      isOneOf(code, {std::errc::connection_reset, std::errc::broken_pipe,
                     std::errc::connection_aborted})) {
    return std::pair{1006, std::string("Network connection lost")};
  }
  if (isOneOf(code, {std::errc::network_down, std::errc::network_unreachable,
                     std::errc::host_unreachable})) {
    return std::pair{1006, std::string("No internet connection")};
  }
  return std::pair{1006, error.localizedDescription()};
}

void URLSessionWebSocket::handleMessage(const WebSocketMessage& message) {
  std::lock_guard lock(mutex_);
  if (state_.isClosed) return;
  deliver(message.kind == WebSocketMessage::Kind::text ? WebSocketEvent::text(message.data)
                                                       : WebSocketEvent::binary(message.data));
}

void URLSessionWebSocket::handleError(const WebSocketTaskError& error) {
  const auto close = closeFor(error);
  if (!close) return;
  task_->cancel();
  closeStep(close->first, close->second);
}

void URLSessionWebSocket::closeStep(std::optional<int> code, const std::optional<Data>& reason) {
  std::lock_guard lock(mutex_);
  if (state_.isClosed) return;
  deliver(WebSocketEvent::close(code, reason ? detail::decodeUTF8Lossy(*reason) : std::string()));
}

void URLSessionWebSocket::deliver(const WebSocketEvent& event) {
  std::lock_guard lock(mutex_);
  if (state_.onEvent) {
    auto listener = state_.onEvent;  // it may replace itself while it runs
    listener(event);
  } else {
    if (state_.eventBuffer.size() >= kEventBufferLimit) state_.eventBuffer.pop_front();
    state_.eventBuffer.push_back(event);
  }
  if (const auto* close = std::get_if<WebSocketEvent::Close>(&event.kind)) {
    state_.onEvent = nullptr;
    state_.isClosed = true;
    state_.closeCode = close->code;
    state_.closeReason = close->reason;
    state_.eventBuffer.clear();
  }
}

}  // namespace voduzazi::realtime
