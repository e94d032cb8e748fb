// A second, TLS-only port: every connection does the TLS handshake, then one HTTP request that
// either becomes a websocket (the realtime service) or is routed like any other request.
//
//   auto tls = std::make_shared<detail::TlsListener>(ioc, endpoint, context, router, upgrades,
//                                                    limits);
//   tls->start();
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <memory>

#include "local_backend/detail/http_listener.hpp"
#include "local_backend/detail/websocket_upgrade.hpp"
#include "local_backend/router.hpp"

namespace local_backend::detail {

// A server context for one certificate chain and key, both PEM. Throws on bad PEM.
std::shared_ptr<boost::asio::ssl::context> makeServerTlsContext(const std::string& chainPem,
                                                                const std::string& keyPem);

// Thread safety: start() once. Lifetime: kept alive by its pending accept.
class TlsListener : public std::enable_shared_from_this<TlsListener> {
 public:
  TlsListener(boost::asio::io_context& ioc, const boost::asio::ip::tcp::endpoint& endpoint,
              std::shared_ptr<boost::asio::ssl::context> context, const Router& router,
              WebSocketUpgrades& upgrades, HttpLimits limits);

  void start();
  std::uint16_t port() const;

 private:
  void accept();

  boost::asio::io_context& ioc_;
  boost::asio::ip::tcp::acceptor acceptor_;
  std::shared_ptr<boost::asio::ssl::context> context_;
  const Router& router_;
  WebSocketUpgrades& upgrades_;
  HttpLimits limits_;
};

}  // namespace local_backend::detail
