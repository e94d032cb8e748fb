#include "local_backend/detail/http_listener.hpp"

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/serializer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <cstdio>
#include <optional>

#include "local_backend/detail/listening_socket.hpp"

namespace local_backend::detail {

namespace {

namespace beast = boost::beast;
namespace net = boost::asio;
using tcp = net::ip::tcp;

// One connection: read a request, answer it, and go on while the client keeps the connection.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
 public:
  HttpSession(tcp::socket&& socket, const Router& router, const HttpLimits& limits,
              WebSocketUpgrades* upgrades)
      : stream_(std::move(socket)), router_(router), limits_(limits), upgrades_(upgrades) {}

  void start() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->read(); });
  }

 private:
  void read() {
    parser_.emplace();
    parser_->body_limit(limits_.maxBodyBytes);
    parser_->header_limit(static_cast<std::uint32_t>(limits_.maxHeaderBytes));
    stream_.expires_after(limits_.idleTimeout);
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onRead(ec); });
  }

  void onRead(beast::error_code ec) {
    if (ec == http::error::end_of_stream || ec == beast::error::timeout ||
        ec == net::error::operation_aborted) {
      return close();
    }
    if (ec == http::error::body_limit) {
      return refuse(http::status::payload_too_large, "The request body is too large");
    }
    if (ec == http::error::header_limit) {
      return refuse(http::status::request_header_fields_too_large,
                    "The request headers are too large");
    }
    if (ec) {
      // Bytes that are not HTTP get an answer; a dropped connection has nobody to answer.
      if (ec.category() != http::make_error_code(http::error::bad_target).category() ||
          ec == http::error::partial_message) {
        return close();
      }
      return refuse(http::status::bad_request, "The request is not valid HTTP");
    }
    Request request = parser_->release();
    if (upgrades_ != nullptr && beast::websocket::is_upgrade(request)) {
      return upgrades_->upgrade(std::move(stream_), std::move(request));
    }
    if (auto streamed = router_.streamed(request)) return sendStreamed(std::move(*streamed));
    send(router_.route(request), !request.keep_alive());
  }

  // The head, then each piece as one chunk after its pause; the connection closes after.
  void sendStreamed(StreamedReply reply) {
    streamed_ = std::make_shared<StreamedReply>(std::move(reply));
    streamed_->head.keep_alive(false);
    streamed_->head.chunked(true);
    head_.emplace(streamed_->head);
    stream_.expires_never();
    http::async_write_header(stream_, *head_,
                             [self = shared_from_this()](beast::error_code ec, std::size_t) {
                               if (ec) return self->close();
                               self->sendChunk(0);
                             });
  }

  void sendChunk(std::size_t index) {
    if (index == streamed_->chunks.size()) {
      pending_ = "0\r\n\r\n";
      return net::async_write(stream_, net::buffer(pending_),
                              [self = shared_from_this()](beast::error_code, std::size_t) {
                                self->close();
                              });
    }
    pause_.expires_after(streamed_->pause);
    pause_.async_wait([self = shared_from_this(), index](beast::error_code ec) {
      if (ec) return self->close();
      const std::string& chunk = self->streamed_->chunks[index];
      char size[32];
      std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
      self->pending_ = size + chunk + "\r\n";
      net::async_write(self->stream_, net::buffer(self->pending_),
                       [self, index](beast::error_code error, std::size_t) {
                         if (error) return self->close();
                         self->sendChunk(index + 1);
                       });
    });
  }

  void refuse(http::status status, std::string_view message) {
    Request blank;
    blank.version(11);
    blank.keep_alive(false);
    send(gatewayError(blank, status, message), true);
  }

  void send(Response response, bool closeAfter) {
    response_ = std::make_shared<Response>(std::move(response));
    if (closeAfter) response_->keep_alive(false);
    stream_.expires_after(limits_.idleTimeout);
    http::async_write(stream_, *response_,
                      [self = shared_from_this(), closeAfter](beast::error_code ec, std::size_t) {
                        if (ec) return self->close();
                        if (closeAfter) return self->closeAfterDraining();
                        self->response_.reset();
                        self->read();
                      });
  }

  // Reads and drops what the client still sends (the rest of a refused body) before closing,
  // so that the client reads our answer instead of a connection reset.
  void closeAfterDraining() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
    drain();
  }

  void drain() {
    constexpr std::size_t kMaxDrained = 64 * 1024 * 1024;
    if (drained_ > kMaxDrained) return;
    stream_.expires_after(std::chrono::seconds{5});
    stream_.async_read_some(drainBuffer_.prepare(64 * 1024),
                            [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                              self->drained_ += n;
                              if (!ec) self->drain();
                            });
  }

  void close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  beast::flat_buffer drainBuffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::shared_ptr<Response> response_;
  std::shared_ptr<StreamedReply> streamed_;
  std::optional<http::response_serializer<http::string_body>> head_;
  net::steady_timer pause_{stream_.get_executor()};
  std::string pending_;
  const Router& router_;
  HttpLimits limits_;
  WebSocketUpgrades* upgrades_;
  std::size_t drained_ = 0;
};

}  // namespace

HttpListener::HttpListener(net::io_context& ioc, const tcp::endpoint& endpoint,
                           const Router& router, HttpLimits limits, WebSocketUpgrades* upgrades)
    : ioc_(ioc),
      acceptor_(net::make_strand(ioc)),
      router_(router),
      limits_(limits),
      upgrades_(upgrades) {
  listenOn(acceptor_, endpoint);
}

void HttpListener::start() { accept(); }

std::uint16_t HttpListener::port() const { return acceptor_.local_endpoint().port(); }

void HttpListener::accept() {
  acceptor_.async_accept(net::make_strand(ioc_), [self = shared_from_this()](beast::error_code ec,
                                                                             tcp::socket socket) {
    if (ec == net::error::operation_aborted) return;
    if (!ec)
      std::make_shared<HttpSession>(std::move(socket), self->router_, self->limits_,
                                    self->upgrades_)
          ->start();
    self->accept();
  });
}

}  // namespace local_backend::detail
