// The TCP side of the server: accepts connections and runs one HTTP/1.1 keep-alive session per
// connection over Boost.Beast, handing every complete request to the router.
//
//   auto listener = std::make_shared<detail::HttpListener>(ioc, endpoint, router, limits);
//   listener->start();
//   std::uint16_t port = listener->port();
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <chrono>
#include <cstddef>
#include <memory>

#include "local_backend/detail/websocket_upgrade.hpp"
#include "local_backend/router.hpp"

namespace local_backend::detail {

struct HttpLimits {
  std::size_t maxBodyBytes = 1024 * 1024;
  std::size_t maxHeaderBytes = 16 * 1024;
  std::chrono::seconds idleTimeout{60};
};

// Thread safety: start() once; the accept loop then runs on the io_context's threads.
// Lifetime: kept alive by its pending accept; closing the io_context ends it.
class HttpListener : public std::enable_shared_from_this<HttpListener> {
 public:
  // Binds and listens at once; throws boost::system::system_error when the port is taken.
  // Requests asking for a websocket go to `upgrades` when given.
  HttpListener(boost::asio::io_context& ioc, const boost::asio::ip::tcp::endpoint& endpoint,
               const Router& router, HttpLimits limits, WebSocketUpgrades* upgrades = nullptr);

  void start();
  std::uint16_t port() const;

 private:
  void accept();

  boost::asio::io_context& ioc_;
  boost::asio::ip::tcp::acceptor acceptor_;
  const Router& router_;
  HttpLimits limits_;
  WebSocketUpgrades* upgrades_;
};

}  // namespace local_backend::detail
