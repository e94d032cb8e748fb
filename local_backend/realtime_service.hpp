// The realtime service under "/realtime/v1": the websocket at "websocket" (both frame forms,
// chosen by the "vsn" query item, "1.0.0" by default) and the HTTP broadcast at
// "api/broadcast". Tests reach the open sockets through hub().
//
//   auto realtime = std::make_shared<RealtimeService>(database, tokens);
//   router.mount("/realtime/v1", realtime);                  // POST api/broadcast
//   HttpListener listener(ioc, endpoint, router, limits, realtime.get());   // upgrades
//   realtime->hub().sendRaw(realtime->hub().sockets().front(), "[1,2]");
#pragma once

#include <atomic>

#include "local_backend/detail/websocket_upgrade.hpp"
#include "local_backend/realtime_hub.hpp"
#include "local_backend/router.hpp"

namespace local_backend {

// Thread safety: safe. Lifetime: the server's; call stop() before its I/O context goes.
class RealtimeService : public ServiceHandler, public detail::WebSocketUpgrades {
 public:
  RealtimeService(Database& database, const TokenAuthority& tokens, RealtimeLimits limits = {});

  Response handle(const Request& request, const RequestTarget& target) override;
  void upgrade(detail::PlainStream&& stream, Request&& request) override;
  void upgrade(detail::TlsStream&& stream, Request&& request) override;

  RealtimeHub& hub() noexcept { return hub_; }
  // For tests, a server that is down: while set, websocket upgrades are refused with 503.
  void refuseConnections(bool refuse) { refusing_ = refuse; }
  // Forgets every socket (they close with the I/O context).
  void stop();

 private:
  // The refusal of an upgrade request, or the format and caller it connects with.
  struct Admission {
    std::optional<Response> refusal;
    FrameFormat format = FrameFormat::object;
    Caller caller;
  };
  Admission admit(const Request& request) const;

  template <class Stream>
  void accept(Stream&& stream, Request&& request);

  const TokenAuthority& tokens_;
  RealtimeHub hub_;
  std::atomic<bool> refusing_ = false;
};

}  // namespace local_backend
