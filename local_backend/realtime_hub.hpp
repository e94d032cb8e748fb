// The channels of the realtime websocket: joins with their configuration, heartbeats, leaves,
// broadcast fan-out, presence state and diffs, channel access tokens, and the delivery of REST
// row changes to the channels whose subscriptions and access rules let them see the row.
//
//   RealtimeHub hub(database, tokens, {});
//   std::uint64_t id = hub.attach(socket, FrameFormat::object, caller, headers);
//   hub.receive(id, R"({"topic":"realtime:room","event":"phx_join","payload":{},"ref":"1"})");
//   hub.publish(RowChange{"messages", "INSERT", row, {}});
//   hub.detach(id);
#pragma once

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "local_backend/database.hpp"
#include "local_backend/realtime_filter.hpp"
#include "local_backend/realtime_frame.hpp"
#include "local_backend/rest_catalog.hpp"
#include "local_backend/row_change.hpp"
#include "local_backend/token_authority.hpp"

namespace local_backend {

using HandshakeHeaders = std::vector<std::pair<std::string, std::string>>;

// One websocket as the hub sees it. Implementations queue and return at once, from any thread.
class RealtimeSocket {
 public:
  virtual ~RealtimeSocket() = default;
  // One text message; messages leave in the order of these calls.
  virtual void sendText(std::string text) = 0;
  // One binary message, in the same order.
  virtual void sendBinary(std::string data) = 0;
  // A close frame after the messages queued before it.
  virtual void close(int code, std::string reason) = 0;
  // Ends the TCP connection at once, without a close frame.
  virtual void drop() = 0;
};

struct RealtimeLimits {
  std::size_t maxFrameBytes = 1024 * 1024;
  std::size_t maxChannelsPerSocket = 100;
};

// Thread safety: safe; sockets are called while the hub's lock is held, so they must only queue.
// Lifetime: the server's; the database and token authority must outlive it.
class RealtimeHub {
 public:
  RealtimeHub(Database& database, const TokenAuthority& tokens, RealtimeLimits limits);

  const RealtimeLimits& limits() const noexcept { return limits_; }

  // A new connection, acting as `caller` (the API key's role) until a channel names a token.
  std::uint64_t attach(std::shared_ptr<RealtimeSocket> socket, FrameFormat format, Caller caller,
                       HandshakeHeaders headers);
  // One text frame from the socket. Frames that are not frames close the socket with 1007;
  // everything else gets a reply or a push.
  void receive(std::uint64_t socket, std::string_view text);
  // The socket is gone: its channels leave (presence leaves are sent to the others).
  void detach(std::uint64_t socket);

  // Delivers a committed row change to every channel subscribed to it whose caller may read the
  // row under the REST access rules.
  void publish(const RowChange& change);

  // The HTTP broadcast: each {"topic", "event", "payload"} goes to the channels joined to
  // "realtime:<topic>". Throws FrameError for a message of the wrong shape (nothing is sent).
  void broadcast(const boost::json::array& messages);

  // A "phx_join" or "phx_leave" the hub received.
  struct MembershipFrame {
    std::string event;
    std::optional<std::string> joinRef;
  };
  // For tests: the joins and leaves received for `topic` on any socket, oldest first (the hub
  // keeps the last 1,000 of all topics).
  std::vector<MembershipFrame> membershipFrames(std::string_view topic) const;

  // For tests: the open sockets in connection order, what each sent in its opening handshake,
  // and a way to send any text, close with a code, or drop the connection. False when no such
  // socket is open.
  std::vector<std::uint64_t> sockets() const;
  std::optional<HandshakeHeaders> handshakeHeaders(std::uint64_t socket) const;
  bool sendRaw(std::uint64_t socket, std::string text, bool binary = false);
  bool close(std::uint64_t socket, int code, std::string reason);
  bool drop(std::uint64_t socket);

  // For tests, a slow or hung server: a paused socket's frames wait unanswered until resume()
  // handles them in order; pauseNewSockets(true) starts every later socket paused. False when no
  // such socket is open.
  bool pause(std::uint64_t socket);
  bool resume(std::uint64_t socket);
  void pauseNewSockets(bool paused);
  // For tests: the frames waiting on a socket, the sockets attached so far, and the
  // postgres-change subscriptions of the channels joined to `topic` on any socket.
  std::size_t heldFrames(std::uint64_t socket) const;
  std::uint64_t socketsAttached() const;
  std::size_t changeSubscriptions(const std::string& topic) const;

 private:
  struct Subscription {
    std::int64_t id = 0;
    std::string event;  // "INSERT", "UPDATE", "DELETE" or "*"
    std::string schema;
    std::optional<std::string> table;
    std::optional<RowFilter> filter;
    boost::json::object echo;  // as the client asked for it, with the id added
  };

  struct Channel {
    std::optional<std::string> joinRef;
    bool broadcastSelf = false;
    bool broadcastAck = false;
    std::string presenceKey;
    std::vector<Subscription> postgres;
    Caller caller;
    std::optional<std::int64_t> expiresAt;  // of the channel's access token
    std::optional<boost::json::object> presenceMeta;
  };

  struct Client {
    std::shared_ptr<RealtimeSocket> socket;
    FrameFormat format = FrameFormat::object;
    Caller caller;
    HandshakeHeaders headers;
    std::map<std::string, Channel> channels;
    bool paused = false;
    std::vector<std::string> held;  // frames received while paused, in order
  };

  // One row change for one channel, checked against the access rules outside the hub's lock.
  struct Delivery {
    std::shared_ptr<RealtimeSocket> socket;
    FrameFormat format;
    std::string topic;
    std::optional<std::string> joinRef;
    Caller caller;
    boost::json::array ids;
  };

  void receiveFrame(Client& client, std::string_view text);
  void handle(Client& client, const Frame& frame);
  void join(Client& client, const Frame& frame);
  void leave(Client& client, const Frame& frame);
  void broadcastFrom(Client& client, const Channel& channel, const Frame& frame);
  void presence(Client& client, Channel& channel, const Frame& frame);
  void accessToken(Client& client, Channel& channel, const Frame& frame);
  // Who a channel token names and when it expires; throws JwtError.
  std::pair<Caller, std::optional<std::int64_t>> callerOfToken(std::string_view token) const;
  void expireTokens(Client& client);
  void endChannel(Client& client, const std::string& topic, std::string_view why);
  void removeChannel(Client& client, std::string topic);  // a copy: callers pass map keys
  // Sends "phx_close" for the channel and forgets it.
  void close(Client& client, const std::string& topic);

  void reply(Client& client, const Frame& to, std::string_view status,
             boost::json::object response = {});
  // A push on a joined channel, carrying its join reference.
  void push(Client& client, const std::string& topic, std::string event,
            boost::json::object payload);
  void fanOut(const std::string& topic, const boost::json::object& payload, std::string_view event,
              const Client* except);
  void sendPresenceDiff(const std::string& topic, const boost::json::object& joins,
                        const boost::json::object& leaves);
  boost::json::object presenceState(const std::string& topic) const;
  bool mayRead(const Table& table, const Caller& caller, const boost::json::object& row) const;

  Database& database_;
  const TokenAuthority& tokens_;
  const RealtimeLimits limits_;
  const Catalog catalog_;
  mutable std::mutex mutex_;
  std::map<std::uint64_t, Client> clients_;
  std::deque<std::pair<std::string, MembershipFrame>> membership_;  // topic, frame
  std::uint64_t nextSocket_ = 0;
  bool pauseNewSockets_ = false;
  std::int64_t nextSubscription_ = 0;
  std::uint64_t nextPresenceRef_ = 0;
};

}  // namespace local_backend
