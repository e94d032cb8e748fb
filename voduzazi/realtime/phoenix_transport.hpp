// The older client's transport: PhoenixTransport (what the socket client drives),
// PhoenixTransportDelegate (what it hears back) and URLSessionTransport, the websocket one.
//
//   auto transport = std::make_shared<URLSessionTransport>(boost::urls::url("https://h/socket"));
//   transport->setDelegate(socketClient);            // now "wss://h/socket"
//   transport->connect({{"apikey", key}});
//   transport->send(encodeArrayFrame(std::nullopt, "1", "phoenix", "heartbeat", {}));
//   transport->disconnect(1000, std::nullopt);
#pragma once

#include <boost/url/url.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "voduzazi/helpers/data.hpp"
#include "voduzazi/helpers/url_request.hpp"
#include "voduzazi/platform/web_socket_task.hpp"

namespace voduzazi::realtime {

enum class PhoenixTransportReadyState { connecting, open, closing, closed };

// Called from the connection's thread, one call at a time.
class PhoenixTransportDelegate {
 public:
  virtual ~PhoenixTransportDelegate() = default;
  virtual void onOpen(std::shared_ptr<const URLResponse> response) = 0;
  virtual void onError(const WebSocketTaskError& error,
                       std::shared_ptr<const URLResponse> response) = 0;
  virtual void onMessage(const std::string& message) = 0;
  virtual void onClose(int code, const std::optional<std::string>& reason) = 0;
};

// A transport that the caller's factory makes for the older client is the caller's code too. The
// client calls it on its strand, one call at a time, and holds it across each call: from inside
// connect(), send() or disconnect() it may release the client, which then lets it go after the
// work that made the call and calls nothing of the caller's again. It may also disconnect or
// connect the client from inside them, but the frames that a flush still held after that send
// are then dropped. readyState(), delegate() and setDelegate() must not call the client at all.
// Neither its calls nor its destructor may wait for a thread that calls the client, as no work
// on the strand may; at a release its destructor runs after the work under way, so a thread
// calling a channel left over does not count.
class PhoenixTransport {
 public:
  virtual ~PhoenixTransport() = default;
  virtual PhoenixTransportReadyState readyState() const = 0;
  virtual std::shared_ptr<PhoenixTransportDelegate> delegate() const = 0;
  virtual void setDelegate(std::shared_ptr<PhoenixTransportDelegate> delegate) = 0;
  virtual void connect(const std::map<std::string, std::string>& headers) = 0;
  virtual void disconnect(int code, const std::optional<std::string>& reason) = 0;
  virtual void send(const Data& data) = 0;
};

// Shared objects: safe (state behind the transport's lock; the delegate is called outside it).
// Lifetime: hold it in a shared_ptr; callbacks of a connection keep it only weakly. The delegate
// is held strongly until replaced.
class URLSessionTransport final : public PhoenixTransport,
                                  public std::enable_shared_from_this<URLSessionTransport> {
 public:
  // Keeps the websocket form of `url` ("http://" becomes "ws://", "https://" becomes "wss://");
  // `configuration` serves every connection.
  explicit URLSessionTransport(const boost::urls::url& url,
                               WebSocketTaskConfiguration configuration = {});
  ~URLSessionTransport() override;

  const boost::urls::url& url() const noexcept { return url_; }
  PhoenixTransportReadyState readyState() const override;
  std::shared_ptr<PhoenixTransportDelegate> delegate() const override;
  void setDelegate(std::shared_ptr<PhoenixTransportDelegate> delegate) override;

  // Opens a new connection (replacing the current one) with the headers added to the handshake.
  // Success and failure arrive through the delegate.
  void connect(const std::map<std::string, std::string>& headers) override;
  // Starts closing with the close code and reason; the state becomes closed when the close
  // arrives.
  void disconnect(int code, const std::optional<std::string>& reason) override;
  // Sends the bytes as one text message; without a connection nothing happens; a failure is
  // dropped.
  void send(const Data& data) override;

  // "http://" and "https://" replaced by "ws://" and "wss://" anywhere in the text.
  static boost::urls::url webSocketURL(const boost::urls::url& url);

 private:
  // One connection's callbacks; those of a replaced connection are ignored.
  void opened(std::uint64_t generation);
  void received(std::uint64_t generation, const WebSocketMessage& message);
  void closed(std::uint64_t generation, int code, const std::optional<Data>& reason);
  void completed(std::uint64_t generation, const std::optional<WebSocketTaskError>& error);
  void abnormalErrorReceived(const WebSocketTaskError& error,
                             std::shared_ptr<const URLResponse> response);

  const boost::urls::url url_;
  const WebSocketTaskConfiguration configuration_;
  mutable std::mutex mutex_;
  PhoenixTransportReadyState readyState_ = PhoenixTransportReadyState::closed;
  std::shared_ptr<PhoenixTransportDelegate> delegate_;
  std::shared_ptr<WebSocketTask> task_;
  std::uint64_t generation_ = 0;
  bool opened_ = false;
};

}  // namespace voduzazi::realtime
