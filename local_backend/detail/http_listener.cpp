#include "local_backend/detail/http_listener.hpp"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

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
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/file_body.hpp>
#include <cstdio>
#include <filesystem>
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

  // A spooled body of a connection that ended mid-request goes with it.
  ~HttpSession() { dropSpool(); }

  void start() {
    net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->read(); });
  }

 private:
  // The head first: its service decides whether the body is held in memory or spooled to disk.
  void read() {
    headParser_.emplace();
    headParser_->header_limit(static_cast<std::uint32_t>(limits_.maxHeaderBytes));
    headParser_->body_limit(boost::none);  // the road chosen after the head sets the limit
    stream_.expires_after(limits_.idleTimeout);
    http::async_read_header(
        stream_, buffer_, *headParser_,
        [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onHead(ec); });
  }

  void onHead(beast::error_code ec) {
    if (ec) return onReadError(ec);
    Request head(headParser_->get().base());
    if (upgrades_ != nullptr && beast::websocket::is_upgrade(head)) {
      return upgrades_->upgrade(std::move(stream_), std::move(head));
    }
    const auto spool = router_.spoolFor(head);
    const std::uint64_t limit = spool ? spool->maxBytes : limits_.maxBodyBytes;
    // A declared length is checked here; a chunked body as it arrives.
    if (const auto length = headParser_->content_length(); length && *length > limit) {
      return refuse(http::status::payload_too_large, "The request body is too large");
    }
    const auto expect = head.find(http::field::expect);
    expectsContinue_ = expect != head.end() && beast::iequals(expect->value(), "100-continue");
    if (spool) return readToFile(*spool);
    parser_.emplace(std::move(*headParser_));
    parser_->body_limit(limits_.maxBodyBytes);
    continueThen([self = shared_from_this()] {
      http::async_read(
          self->stream_, self->buffer_, *self->parser_,
          [self](beast::error_code error, std::size_t) { self->onRead(error); });
    });
  }

  // A client that asked to be told before sending its body ("Expect: 100-continue") is told.
  template <class Next>
  void continueThen(Next next) {
    if (!expectsContinue_) return next();
    static constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
    net::async_write(stream_, net::buffer(kContinue.data(), kContinue.size()),
                     [self = shared_from_this(), next](beast::error_code ec, std::size_t) {
                       if (ec) return self->close();
                       next();
                     });
  }

  void readToFile(const BodySpool& spool) {
    std::string pattern = (spool.folder / "body-XXXXXX").string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) return refuse(http::status::internal_server_error, "Cannot store the body");
    ::close(fd);
    spoolPath_ = pattern;
    fileParser_.emplace(std::move(*headParser_));
    fileParser_->body_limit(spool.maxBytes);
    beast::error_code ec;
    fileParser_->get().body().open(spoolPath_.c_str(), beast::file_mode::write, ec);
    if (ec) {
      dropSpool();
      return refuse(http::status::internal_server_error, "Cannot store the body");
    }
    continueThen([self = shared_from_this()] {
      http::async_read(
          self->stream_, self->buffer_, *self->fileParser_,
          [self](beast::error_code error, std::size_t) { self->onSpooled(error); });
    });
  }

  void onSpooled(beast::error_code ec) {
    fileParser_->get().body().close();
    if (ec) {
      // An interrupted or refused upload leaves nothing behind.
      dropSpool();
      return onReadError(ec);
    }
    Request head(fileParser_->get().base());
    fileParser_.reset();
    Response response = router_.routeSpooled(head, spoolPath_);
    dropSpool();
    send(std::move(response), !head.keep_alive());
  }

  void dropSpool() {
    std::error_code ignored;
    if (!spoolPath_.empty()) std::filesystem::remove(spoolPath_, ignored);
    spoolPath_.clear();
  }

  void onRead(beast::error_code ec) {
    if (ec) return onReadError(ec);
    Request request = parser_->release();
    if (auto streamed = router_.streamed(request)) return sendStreamed(std::move(*streamed));
    if (auto file = router_.fileReply(request)) {
      return send(std::move(*file), !request.keep_alive());
    }
    send(router_.route(request), !request.keep_alive());
  }

  void onReadError(beast::error_code ec) {
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
    // Bytes that are not HTTP get an answer; a dropped connection has nobody to answer.
    if (ec.category() != http::make_error_code(http::error::bad_target).category() ||
        ec == http::error::partial_message) {
      return close();
    }
    refuse(http::status::bad_request, "The request is not valid HTTP");
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

  template <class Message>
  void send(Message message, bool closeAfter) {
    auto response = std::make_shared<Message>(std::move(message));
    if (closeAfter) response->keep_alive(false);
    stream_.expires_after(limits_.idleTimeout);
    // The message lives in the handler until it is written.
    http::async_write(stream_, *response,
                      [self = shared_from_this(), closeAfter, response](beast::error_code ec,
                                                                        std::size_t) {
                        if (ec) return self->close();
                        if (closeAfter) return self->closeAfterDraining();
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
  std::optional<http::request_parser<http::empty_body>> headParser_;
  std::optional<http::request_parser<http::string_body>> parser_;
  std::optional<http::request_parser<http::file_body>> fileParser_;
  std::filesystem::path spoolPath_;
  bool expectsContinue_ = false;
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
