// One realtime websocket on the server side, over a plain or TLS stream: accepts the upgrade,
// reads text frames into the hub and writes what the hub queues, in order, one at a time.
#pragma once

#include <memory>

#include "local_backend/detail/websocket_upgrade.hpp"
#include "local_backend/realtime_hub.hpp"

namespace local_backend::detail {

// Accepts `request` on `stream` as a realtime websocket speaking `format`, acting as `caller`.
// The session lives as long as its connection.
void startRealtimeSession(PlainStream&& stream, Request&& request, RealtimeHub& hub,
                          FrameFormat format, Caller caller);
void startRealtimeSession(TlsStream&& stream, Request&& request, RealtimeHub& hub,
                          FrameFormat format, Caller caller);

// Writes `response` on the stream and closes it: how an upgrade is refused.
void refuseUpgrade(PlainStream&& stream, Response&& response);
void refuseUpgrade(TlsStream&& stream, Response&& response);

}  // namespace local_backend::detail
