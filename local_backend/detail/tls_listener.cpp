#include "local_backend/detail/tls_listener.hpp"

#include <boost/asio/strand.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>
#include <optional>

#include "local_backend/detail/listening_socket.hpp"

namespace local_backend::detail {

namespace {

namespace beast = boost::beast;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;

// One TLS connection: handshake, one request, then a websocket or one answer.
class TlsSession : public std::enable_shared_from_this<TlsSession> {
 public:
  TlsSession(tcp::socket&& socket, ssl::context& context, const Router& router,
             WebSocketUpgrades& upgrades, const HttpLimits& limits)
      : stream_(std::move(socket), context),
        router_(router),
        upgrades_(upgrades),
        limits_(limits) {}

  void start() {
    beast::get_lowest_layer(stream_).expires_after(limits_.idleTimeout);
    stream_.async_handshake(ssl::stream_base::server,
                            [self = shared_from_this()](beast::error_code error) {
                              if (!error) self->read();
                            });
  }

 private:
  void read() {
    parser_.emplace();
    parser_->body_limit(limits_.maxBodyBytes);
    parser_->header_limit(static_cast<std::uint32_t>(limits_.maxHeaderBytes));
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                       if (error) return;
                       self->dispatch();
                     });
  }

  void dispatch() {
    Request request = parser_->release();
    if (beast::websocket::is_upgrade(request)) {
      return upgrades_.upgrade(std::move(stream_), std::move(request));
    }
    response_ = router_.route(request);
    response_.keep_alive(false);
    http::async_write(stream_, response_,
                      [self = shared_from_this()](beast::error_code error, std::size_t) {
                        if (error) return;
                        self->stream_.async_shutdown([self](beast::error_code) {});
                      });
  }

  TlsStream stream_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  Response response_;
  const Router& router_;
  WebSocketUpgrades& upgrades_;
  HttpLimits limits_;
};

}  // namespace

std::shared_ptr<ssl::context> makeServerTlsContext(const std::string& chainPem,
                                                   const std::string& keyPem) {
  auto context = std::make_shared<ssl::context>(ssl::context::tls_server);
  context->set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 |
                       ssl::context::no_sslv3 | ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1);
  context->use_certificate_chain(net::buffer(chainPem));
  context->use_private_key(net::buffer(keyPem), ssl::context::pem);
  return context;
}

TlsListener::TlsListener(net::io_context& ioc, const tcp::endpoint& endpoint,
                         std::shared_ptr<ssl::context> context, const Router& router,
                         WebSocketUpgrades& upgrades, HttpLimits limits)
    : ioc_(ioc),
      acceptor_(net::make_strand(ioc)),
      context_(std::move(context)),
      router_(router),
      upgrades_(upgrades),
      limits_(limits) {
  listenOn(acceptor_, endpoint);
}

void TlsListener::start() { accept(); }

std::uint16_t TlsListener::port() const { return acceptor_.local_endpoint().port(); }

void TlsListener::accept() {
  acceptor_.async_accept(net::make_strand(ioc_), [self = shared_from_this()](beast::error_code ec,
                                                                             tcp::socket socket) {
    if (ec == net::error::operation_aborted) return;
    if (!ec) {
      std::make_shared<TlsSession>(std::move(socket), *self->context_, self->router_,
                                   self->upgrades_, self->limits_)
          ->start();
    }
    self->accept();
  });
}

}  // namespace local_backend::detail
