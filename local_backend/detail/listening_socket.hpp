// Opening a listening socket the way every listener of the server does.
#pragma once

#include <boost/asio/ip/tcp.hpp>

namespace local_backend::detail {

// Opens, binds (address reuse on) and listens; throws boost::system::system_error.
inline void listenOn(boost::asio::ip::tcp::acceptor& acceptor,
                     const boost::asio::ip::tcp::endpoint& endpoint) {
  acceptor.open(endpoint.protocol());
  acceptor.set_option(boost::asio::socket_base::reuse_address(true));
  acceptor.bind(endpoint);
  acceptor.listen(boost::asio::socket_base::max_listen_connections);
}

}  // namespace local_backend::detail
