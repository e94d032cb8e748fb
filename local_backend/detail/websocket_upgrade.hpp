// Where a connection goes when its request asks to become a websocket: the listeners hand over
// the stream and the request, plain or TLS.
#pragma once

#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include "local_backend/http_message.hpp"

namespace local_backend::detail {

using PlainStream = boost::beast::tcp_stream;
using TlsStream = boost::beast::ssl_stream<boost::beast::tcp_stream>;

// Thread safety: called from the listeners' threads at once. Lifetime: the server's.
class WebSocketUpgrades {
 public:
  virtual ~WebSocketUpgrades() = default;
  // Takes the connection over: accepts the upgrade or answers the request and closes.
  virtual void upgrade(PlainStream&& stream, Request&& request) = 0;
  virtual void upgrade(TlsStream&& stream, Request&& request) = 0;
};

}  // namespace local_backend::detail
