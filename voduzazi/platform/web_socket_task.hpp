// WebSocketTask: one websocket connection (ws or wss) with its own I/O thread, for as long as
// the connection lasts. The opening handshake carries the request's header fields; messages go
// out in the order they were sent; everything that happens is reported to the delegate, one call
// at a time, in order, from the connection's thread.
//
//   WebSocketTaskDelegate delegate;
//   delegate.didOpen = [](const std::string& protocol) { ready(); };
//   delegate.didReceive = [](WebSocketMessage message) { handle(message.data); };
//   delegate.didComplete = [](const std::optional<WebSocketTaskError>& error) { done(error); };
//   auto task = WebSocketTask::make(URLRequest{url}, {}, {}, std::move(delegate));
//   task->resume();
//   task->send({WebSocketMessage::Kind::text, R"({"hello":1})"});
//   task->cancel(1000, "bye");
#pragma once

#include <boost/system/error_code.hpp>
#include <chrono>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/helpers/data.hpp"
#include "voduzazi/helpers/url_request.hpp"

namespace voduzazi {

namespace detail {
class WebSocketConnection;
}

struct WebSocketTaskConfiguration {
  // Sent with the opening handshake after the request's own fields (added, never replacing).
  HeaderFieldList additionalHeaders;
  // Trusted besides the system's roots (PEM): how a test trusts its own certificate. Peers are
  // always verified, host name included.
  std::optional<std::string> additionalTrustedCertificates;
  // A longer incoming message fails the connection with close code 1009.
  std::size_t maximumMessageSize = 16 * 1024 * 1024;
  // How long a close we start may wait for the server's close frame: a peer that has gone
  // silent gets its connection torn down, and didComplete reports std::errc::timed_out.
  std::chrono::duration<double> closeTimeout = std::chrono::seconds(10);
};

struct WebSocketMessage {
  enum class Kind { text, binary };
  Kind kind = Kind::text;
  Data data;
};

// A transport failure: the system's error code (compare with std::errc or boost::asio's codes)
// and its description; for a refused opening also the server's HTTP answer.
class WebSocketTaskError : public std::exception {
 public:
  WebSocketTaskError(boost::system::error_code code, std::string description,
                     std::shared_ptr<const HTTPURLResponse> response = nullptr);

  const boost::system::error_code& code() const noexcept { return code_; }
  const std::string& localizedDescription() const noexcept { return description_; }
  const std::shared_ptr<const HTTPURLResponse>& response() const noexcept { return response_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  boost::system::error_code code_;
  std::string description_;
  std::shared_ptr<const HTTPURLResponse> response_;
};

// Every member is optional. Calls come from the connection's thread, never under a lock of the
// task's, so a delegate may call back into the task.
struct WebSocketTaskDelegate {
  // The opening handshake succeeded; the subprotocol the server chose ("" for none).
  std::function<void(const std::string& protocol)> didOpen;
  std::function<void(WebSocketMessage message)> didReceive;
  // The server's close frame: its code (1005 when it gave none) and reason (none when empty).
  std::function<void(int code, std::optional<Data> reason)> didClose;
  // Called exactly once, last: no error after a close frame, else why the connection ended
  // (a failed opening included).
  std::function<void(const std::optional<WebSocketTaskError>& error)> didComplete;
};

// Shared objects: safe; every operation only posts to the connection's thread. Lifetime: once
// the connection has ended (didComplete ran), its thread ends and its descriptors close by
// themselves, whoever still holds the task; the destructor cancels the connection and joins its
// thread (from the connection's own thread, that is, inside a delegate call, the thread is
// joined later: by the next connection, or at process exit), so never destroy the last
// reference while holding a lock a delegate call needs. The delegate is dropped once
// didComplete ran.
class WebSocketTask {
 public:
  using SendCompletion = std::function<void(const std::optional<WebSocketTaskError>& error)>;

  // `request.url` is ws, wss, http or https (the latter two are treated as ws and wss);
  // `request.timeoutInterval` bounds connecting and the opening handshake. Nothing happens
  // before resume(). Throws URLError: unsupportedURL for another scheme, badURL without a host.
  static std::shared_ptr<WebSocketTask> make(URLRequest request, std::vector<std::string> protocols,
                                             WebSocketTaskConfiguration configuration,
                                             WebSocketTaskDelegate delegate);
  ~WebSocketTask();
  WebSocketTask(const WebSocketTask&) = delete;
  WebSocketTask& operator=(const WebSocketTask&) = delete;

  // Starts connecting; later calls do nothing.
  void resume();

  // Queues one message; messages leave in the order of these calls, those sent before the
  // opening right after it. `completion` (from the connection's thread) learns whether the
  // message was written; it always runs, with an error once the connection has ended (at once,
  // on the caller's thread, when the connection's thread is already gone).
  void send(WebSocketMessage message, SendCompletion completion = {});

  // Ends the connection at once, without a close frame; didComplete reports
  // boost::asio::error::operation_aborted.
  void cancel();
  // Sends a close frame with `code` and `reason` (at most 123 bytes; longer ones are cut) after
  // the messages queued before; the connection ends when the server's close frame arrives, or
  // after the configuration's closeTimeout (didComplete then reports std::errc::timed_out).
  void cancel(int code, const Data& reason);

  // The server's answer to the opening handshake, once it came.
  std::shared_ptr<const HTTPURLResponse> response() const;

  // Whether the caller is on the connection's thread (inside a delegate call, that is), where
  // waiting for a send to complete would wait forever.
  bool isConnectionThread() const;

 private:
  explicit WebSocketTask(std::shared_ptr<detail::WebSocketConnection> connection);

  std::shared_ptr<detail::WebSocketConnection> connection_;
};

}  // namespace voduzazi
