// A small websocket server on 127.0.0.1 that misbehaves on request: it goes silent after the
// opening handshake (reading nothing, so it never answers a close or a heartbeat either),
// refuses the handshake with an odd HTTP status, or answers every frame (array or object form)
// with a reply whose status the test chooses.
//
//   MisbehavingServer server({.behaviour = MisbehavingServer::Behaviour::silent});
//   auto socket = URLSessionWebSocket::connect(server.url("/socket/websocket"));
//   socket->close(1000, "bye");   // the server never answers
#pragma once

#include <boost/url/url.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace voduzazi::testing {

// Shared objects: safe. Lifetime: the destructor drops every connection and joins the thread.
class MisbehavingServer {
 public:
  enum class Behaviour {
    silent,           // completes the handshake, then never reads or writes again
    refuse,           // answers the handshake with `handshakeStatus` and closes
    replyWithStatus,  // answers joins with `joinStatus`, other pushes with `pushStatus`
  };
  struct Options {
    Behaviour behaviour = Behaviour::silent;
    int handshakeStatus = 503;
    std::string joinStatus = "ok";
    std::string pushStatus = "ok";
    // replyWithStatus: after this many replies on a connection it goes silent (-1: never).
    int repliesBeforeSilence = -1;
    // replyWithStatus, object frames: a broadcast of this event follows each join's reply.
    std::string broadcastAfterJoin = {};
  };

  explicit MisbehavingServer(Options options);
  ~MisbehavingServer();  // drops every connection and joins the thread
  MisbehavingServer(const MisbehavingServer&) = delete;
  MisbehavingServer& operator=(const MisbehavingServer&) = delete;

  // "ws://127.0.0.1:<port><path>".
  boost::urls::url url(const std::string& path = "/socket/websocket") const;
  // Handshakes completed (or refused) so far.
  int connections() const;
  // Waits up to `timeout` until `count` connections were handled.
  bool waitForConnections(int count,
                          std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace voduzazi::testing
