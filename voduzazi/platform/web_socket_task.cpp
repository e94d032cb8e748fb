#include "voduzazi/platform/web_socket_task.hpp"

#include <openssl/ssl.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/host_name_verification.hpp>
#include <boost/asio/ssl/stream.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/ssl.hpp>
#include <boost/beast/websocket/stream.hpp>
#include <charconv>
#include <optional>
#include <type_traits>

#include "voduzazi/helpers/url_error.hpp"
#include "voduzazi/platform/detail/web_socket_connection.hpp"

namespace voduzazi {

namespace {

namespace beast = boost::beast;
namespace net = boost::asio;
namespace ssl = net::ssl;
namespace websocket = beast::websocket;
namespace http = beast::http;
using tcp = net::ip::tcp;

using PlainStream = websocket::stream<beast::tcp_stream>;
// Asio's TLS stream rather than Beast's wrapper: the wrapper's teardown overloads are ambiguous
// to clang in this Boost release.
using TlsStream = websocket::stream<boost::asio::ssl::stream<beast::tcp_stream>>;

bool isTls(const boost::urls::url& url) { return url.scheme() == "wss" || url.scheme() == "https"; }

bool isIpAddress(const std::string& host) {
  boost::system::error_code error;
  net::ip::make_address(host, error);
  return !error;
}

std::shared_ptr<const HTTPURLResponse> responseOf(const boost::urls::url& url,
                                                  const websocket::response_type& response) {
  HeaderFieldList fields;
  for (const auto& field : response) {
    fields.emplace_back(std::string(field.name_string()), std::string(field.value()));
  }
  return std::make_shared<HTTPURLResponse>(url, static_cast<int>(response.result_int()),
                                           std::move(fields));
}

std::chrono::steady_clock::duration timeoutOf(double seconds) {
  if (!(seconds > 0) || seconds > 24 * 3600) return std::chrono::hours(24);
  return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<double>(seconds));
}

// The stream's part of a connection: resolve, connect, TLS (for wss), the websocket handshake,
// the read loop and the writes. Runs only on the connection's thread.
template <class Stream>
class StreamConnection final : public detail::WebSocketConnection {
 public:
  StreamConnection(URLRequest request, std::vector<std::string> protocols,
                   WebSocketTaskConfiguration configuration, WebSocketTaskDelegate delegate)
      : WebSocketConnection(std::move(request), std::move(protocols), std::move(configuration),
                            std::move(delegate)) {
    makeStream();
  }

 private:
  static constexpr bool kTls = std::is_same_v<Stream, TlsStream>;

  void makeStream() {
    if constexpr (kTls) {
      tls_.emplace(ssl::context::tls_client);
      tls_->set_default_verify_paths();
      if (configuration_.additionalTrustedCertificates) {
        boost::system::error_code ignored;  // a bad PEM simply trusts nothing more
        tls_->add_certificate_authority(net::buffer(*configuration_.additionalTrustedCertificates),
                                        ignored);
      }
      tls_->set_verify_mode(ssl::verify_peer);
      stream_.emplace(ioc(), *tls_);
    } else {
      stream_.emplace(ioc());
    }
  }

  beast::tcp_stream& tcp() { return beast::get_lowest_layer(*stream_); }

  std::string host() const { return std::string(request_.url.host()); }

  std::string port() const {
    if (request_.url.has_port()) return std::string(request_.url.port());
    return kTls ? "443" : "80";
  }

  // An address needs no look-up, and so no resolver (whose look-ups run on a thread of their
  // own for as long as the context lives).
  std::optional<tcp::endpoint> literalEndpoint() const {
    boost::system::error_code error;
    const auto address = net::ip::make_address(std::string(request_.url.host_address()), error);
    const std::string text = port();
    unsigned short number = 0;
    const auto [end, parsed] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error || parsed != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return tcp::endpoint(address, number);
  }

  void connect() override {
    tcp().expires_after(timeoutOf(request_.timeoutInterval));
    auto connected = [self = shared()](beast::error_code error, const auto&...) {
      if (error) return self->fail(error);
      self->secure();
    };
    if (const auto endpoint = literalEndpoint()) return tcp().async_connect(*endpoint, connected);
    resolver_.emplace(ioc());
    resolver_->async_resolve(
        host(), port(),
        [self = shared(), connected](beast::error_code error, tcp::resolver::results_type found) {
          if (error) return self->fail(error);
          self->tcp().async_connect(found, connected);
        });
  }

  void secure() {
    if constexpr (kTls) {
      auto& tls = stream_->next_layer();
      const std::string name = host();
      // Names get SNI; every peer gets its certificate checked against the name or address.
      if (!isIpAddress(name)) SSL_set_tlsext_host_name(tls.native_handle(), name.c_str());
      tls.set_verify_callback(ssl::host_name_verification(name));
      tls.async_handshake(ssl::stream_base::client, [self = shared()](beast::error_code error) {
        if (error) return self->fail(error);
        self->handshake();
      });
    } else {
      handshake();
    }
  }

  void handshake() {
    // The TCP stream's deadline bounds the handshake; the websocket keeps no timers of its own,
    // so nothing outlives a connection that failed.
    tcp().expires_after(timeoutOf(request_.timeoutInterval));
    websocket::stream_base::timeout timeout{};
    timeout.handshake_timeout = websocket::stream_base::none();
    timeout.idle_timeout = websocket::stream_base::none();
    timeout.keep_alive_pings = false;
    stream_->set_option(timeout);
    stream_->read_message_max(configuration_.maximumMessageSize);
    stream_->set_option(websocket::stream_base::decorator(
        [this](websocket::request_type& request) { decorate(request); }));
    std::string hostField = host();
    if (request_.url.has_port()) hostField += ":" + port();
    std::string target(request_.url.encoded_target());
    if (target.empty() || target.front() != '/') target.insert(0, "/");
    stream_->async_handshake(
        handshakeResponse_, hostField, target, [self = shared()](beast::error_code error) {
          auto response = responseOf(self->request_.url, self->handshakeResponse_);
          if (error) return self->fail(error, std::move(response));
          self->tcp().expires_never();
          const std::string protocol(self->handshakeResponse_[http::field::sec_websocket_protocol]);
          self->opened(protocol, std::move(response));
          self->read();
        });
  }

  void decorate(websocket::request_type& request) const {
    for (const auto& [name, value] : request_.headerFields) request.insert(name, value);
    for (const auto& [name, value] : configuration_.additionalHeaders) request.insert(name, value);
    if (!protocols_.empty()) {
      std::string joined;
      for (const auto& protocol : protocols_) joined += (joined.empty() ? "" : ", ") + protocol;
      request.set(http::field::sec_websocket_protocol, joined);
    }
  }

  void read() {
    stream_->async_read(buffer_, [self = shared()](beast::error_code error, std::size_t) {
      if (error == websocket::error::closed) {
        return self->closedByPeer(self->peerCloseCode(), self->peerCloseReason());
      }
      // A close we started suspends and aborts the read; the close's completion reports the end.
      if (error == net::error::operation_aborted && self->closeRequested()) return;
      if (error) return self->fail(error);
      WebSocketMessage message{
          self->stream_->got_text() ? WebSocketMessage::Kind::text : WebSocketMessage::Kind::binary,
          beast::buffers_to_string(self->buffer_.data())};
      self->buffer_.consume(self->buffer_.size());
      self->received(std::move(message));
      self->read();
    });
  }

  // The code of the peer's close frame; 1005 when it gave none.
  int peerCloseCode() const {
    const auto& reason = stream_->reason();
    return reason.code == websocket::close_code::none ? 1005 : reason.code;
  }

  std::optional<Data> peerCloseReason() const {
    const auto& reason = stream_->reason();
    if (reason.reason.empty()) return std::nullopt;
    return Data(reason.reason.data(), reason.reason.size());
  }

  void write(const Outgoing& outgoing) override {
    if (const auto* message = std::get_if<WebSocketMessage>(&outgoing.frame)) {
      stream_->text(message->kind == WebSocketMessage::Kind::text);
      stream_->async_write(
          net::buffer(message->data),
          [self = shared()](beast::error_code error, std::size_t) { self->wrote(error); });
    } else {
      const auto& frame = std::get<CloseFrame>(outgoing.frame);
      websocket::close_reason reason(static_cast<std::uint16_t>(frame.code));
      reason.reason.assign(frame.reason.data(),
                           std::min(frame.reason.size(), reason.reason.max_size()));
      tcp().expires_after(timeoutOf(request_.timeoutInterval));  // bounds the closing handshake
      stream_->async_close(reason, [self = shared()](beast::error_code error) {
        self->wrote(error);
        if (error) return self->fail(error);
        self->closedByPeer(self->peerCloseCode(), self->peerCloseReason());
      });
    }
  }

  void abort() override {
    boost::system::error_code ignored;
    if (resolver_) resolver_->cancel();
    tcp().socket().shutdown(tcp::socket::shutdown_both, ignored);
    tcp().socket().close(ignored);
  }

  void dropIo() override {
    stream_.reset();
    resolver_.reset();
  }

  std::shared_ptr<StreamConnection> shared() {
    return std::static_pointer_cast<StreamConnection>(shared_from_this());
  }

  // Only made for a host name.
  std::optional<tcp::resolver> resolver_;
  // Only TLS connections make one: building it touches the TLS library's per-thread state on the
  // caller's thread, which plain connections have no reason to leave behind.
  std::optional<ssl::context> tls_;
  // Made on construction; dropped with the context once the connection has ended.
  std::optional<Stream> stream_;
  beast::flat_buffer buffer_;
  websocket::response_type handshakeResponse_;
};

}  // namespace

namespace detail {

std::shared_ptr<WebSocketConnection> makeWebSocketConnection(
    URLRequest request, std::vector<std::string> protocols,
    WebSocketTaskConfiguration configuration, WebSocketTaskDelegate delegate) {
  if (isTls(request.url)) {
    return std::make_shared<StreamConnection<TlsStream>>(
        std::move(request), std::move(protocols), std::move(configuration), std::move(delegate));
  }
  return std::make_shared<StreamConnection<PlainStream>>(
      std::move(request), std::move(protocols), std::move(configuration), std::move(delegate));
}

}  // namespace detail

WebSocketTaskError::WebSocketTaskError(boost::system::error_code code, std::string description,
                                       std::shared_ptr<const HTTPURLResponse> response)
    : code_(code), description_(std::move(description)), response_(std::move(response)) {}

std::shared_ptr<WebSocketTask> WebSocketTask::make(URLRequest request,
                                                   std::vector<std::string> protocols,
                                                   WebSocketTaskConfiguration configuration,
                                                   WebSocketTaskDelegate delegate) {
  const auto scheme = request.url.scheme();
  if (!(scheme == "ws" || scheme == "wss" || scheme == "http" || scheme == "https")) {
    throw URLError(URLError::Code::unsupportedURL, "not a websocket URL");
  }
  if (request.url.host().empty()) throw URLError(URLError::Code::badURL, "the URL has no host");
  return std::shared_ptr<WebSocketTask>(new WebSocketTask(detail::makeWebSocketConnection(
      std::move(request), std::move(protocols), std::move(configuration), std::move(delegate))));
}

WebSocketTask::WebSocketTask(std::shared_ptr<detail::WebSocketConnection> connection)
    : connection_(std::move(connection)) {}

WebSocketTask::~WebSocketTask() { connection_->release(); }

void WebSocketTask::resume() { connection_->resume(); }

void WebSocketTask::send(WebSocketMessage message, SendCompletion completion) {
  connection_->send(std::move(message), std::move(completion));
}

void WebSocketTask::cancel() { connection_->cancel(); }

void WebSocketTask::cancel(int code, const Data& reason) { connection_->close(code, reason); }

std::shared_ptr<const HTTPURLResponse> WebSocketTask::response() const {
  return connection_->response();
}

bool WebSocketTask::isConnectionThread() const { return connection_->isConnectionThread(); }

}  // namespace voduzazi
