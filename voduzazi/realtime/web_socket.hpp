// The second-generation client's connection: the WebSocket interface, its events, and
// URLSessionWebSocket, which opens one websocket and turns everything that happens on it into
// exactly one kind of event (text, binary, or a single close).
//
//   auto socket = URLSessionWebSocket::connect(boost::urls::url("wss://h/realtime/v1/websocket"));
//   auto events = socket->events();            // events received so far come first
//   socket->send(R"({"topic":"phoenix","event":"heartbeat","payload":{},"ref":"1"})");
//   while (auto event = events.next()) handle(*event);   // ends after the close event
//   socket->close(1000, "bye");
#pragma once

#include <boost/url/url.hpp>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/helpers/data.hpp"
#include "voduzazi/platform/web_socket_task.hpp"

namespace voduzazi::realtime {

struct WebSocketEvent {
  struct Text {
    std::string text;
    friend bool operator==(const Text&, const Text&) = default;
  };
  struct Binary {
    Data data;
    friend bool operator==(const Binary&, const Binary&) = default;
  };
  struct Close {
    std::optional<int> code;
    std::string reason;
    friend bool operator==(const Close&, const Close&) = default;
  };
  std::variant<Text, Binary, Close> kind;

  static WebSocketEvent text(std::string text) { return {Text{std::move(text)}}; }
  static WebSocketEvent binary(Data data) { return {Binary{std::move(data)}}; }
  static WebSocketEvent close(std::optional<int> code, std::string reason) {
    return {Close{code, std::move(reason)}};
  }
  bool isClose() const { return std::holds_alternative<Close>(kind); }

  friend bool operator==(const WebSocketEvent&, const WebSocketEvent&) = default;
  std::size_t hashValue() const;
};

// A failed opening. what() is the message, one space, and the underlying error's description.
class WebSocketError : public std::exception {
 public:
  WebSocketError(std::string message, WebSocketTaskError error);
  const std::string& message() const noexcept { return message_; }
  const WebSocketTaskError& error() const noexcept { return error_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::string message_;
  WebSocketTaskError error_;
  std::string description_;
};

using WebSocketEventHandler = std::function<void(const WebSocketEvent&)>;

// Implemented by shared reference types (held by shared_ptr); safe to use from any thread.
class WebSocket : public std::enable_shared_from_this<WebSocket> {
 public:
  virtual ~WebSocket() = default;

  // Replaces the listener; a new listener first gets the events buffered while none was set.
  // Once the close event has come, no listener is kept.
  virtual void setOnEvent(WebSocketEventHandler handler) = 0;
  // Sends one text message and returns once it was taken or its failure handled (never throws).
  virtual void send(const std::string& text) = 0;
  // Queues one text message behind the earlier ones and returns at once; a failure is handled
  // as in send.
  virtual void enqueue(const std::string& text) { send(text); }
  // Asks the connection to close; the close event follows. Throws std::invalid_argument for a
  // code other than 1000 or 3000...4999, or a reason over 123 UTF-8 bytes (on an open
  // connection).
  virtual void close(std::optional<int> code, std::optional<std::string> reason) = 0;
  virtual bool isClosed() const = 0;
  virtual std::optional<int> closeCode() const = 0;
  virtual std::optional<std::string> closeReason() const = 0;
  // The subprotocol the server chose ("" for none).
  virtual std::string protocol() const = 0;

  // A new stream of the events (replacing any listener), buffered events first. It finishes
  // right after the close event, and also when its listener goes without one: the socket
  // dropped, already closed, or the listener replaced (a later events() call). Cancelling its
  // reader removes the listener.
  AsyncStream<WebSocketEvent> events();
};

// Shared objects: safe. Lifetime: it owns its connection: dropping the last reference ends the
// connection at once (no close frame, no further events) and waits for its thread, unless that
// happens inside a listener. Once the close event has come, the connection's thread and
// descriptors are already gone. The listener is called under the connection's (recursive) lock, so
// it may call close() but must not block.
class URLSessionWebSocket final : public WebSocket {
 public:
  // The most events kept while no listener is set; older ones are dropped.
  static constexpr std::size_t kEventBufferLimit = 100;

  // Opens a websocket (scheme ws or wss; std::invalid_argument otherwise) and returns it once
  // open, its events already flowing. Throws WebSocketError("connection ended unexpectedly")
  // when the connection ends before opening, also when the calling task is cancelled first.
  static std::shared_ptr<URLSessionWebSocket> connect(
      const boost::urls::url& url, std::optional<std::vector<std::string>> protocols = std::nullopt,
      std::optional<WebSocketTaskConfiguration> configuration = std::nullopt);

  void setOnEvent(WebSocketEventHandler handler) override;
  void send(const std::string& text) override;
  void enqueue(const std::string& text) override;
  void close(std::optional<int> code, std::optional<std::string> reason) override;
  bool isClosed() const override;
  std::optional<int> closeCode() const override;
  std::optional<std::string> closeReason() const override;
  std::string protocol() const override { return protocol_; }

  // The close code and reason a transport failure maps to; nothing for a failure that closes
  // nothing by itself (the socket was not connected).
  static std::optional<std::pair<int, std::string>> closeFor(const WebSocketTaskError& error);

 private:
  struct MutableState {
    bool isClosed = false;
    WebSocketEventHandler onEvent;
    std::deque<WebSocketEvent> eventBuffer;
    std::optional<int> closeCode;
    std::optional<std::string> closeReason;
  };
  struct ConnectState;

  URLSessionWebSocket(std::shared_ptr<WebSocketTask> task, std::string protocol)
      : task_(std::move(task)), protocol_(std::move(protocol)) {}

  void handleMessage(const WebSocketMessage& message);
  void handleError(const WebSocketTaskError& error);
  void closeStep(std::optional<int> code, const std::optional<Data>& reason);
  void deliver(const WebSocketEvent& event);

  const std::shared_ptr<WebSocketTask> task_;
  const std::string protocol_;
  // Recursive: a listener runs under it and may call back in. Changes are made in place (a copy
  // written back afterwards would undo what a listener changed meanwhile).
  mutable std::recursive_mutex mutex_;
  MutableState state_;
};

}  // namespace voduzazi::realtime

template <>
struct std::hash<voduzazi::realtime::WebSocketEvent> {
  std::size_t operator()(const voduzazi::realtime::WebSocketEvent& event) const {
    return event.hashValue();
  }
};
