// A small HTTP/1.1 server on 127.0.0.1 for the transport tests and benchmark: keep-alive
// connections, one thread per connection, a handler that answers each request.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace voduzazi::testing {

// A one-way door that handlers wait on; opened by the test (or at server shutdown).
class Gate {
 public:
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  // False when the door stayed shut for `limit`.
  bool wait(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

class LoopbackServer {
 public:
  struct Request {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
  };
  struct Response {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // When not empty, the body is sent in these chunks (chunked encoding), and `betweenChunks`
    // runs after the first one.
    std::vector<std::string> chunks;
    std::function<void()> betweenChunks;
    // Runs before anything is sent.
    std::function<void()> beforeResponse;
    // When set, writes the whole answer (head included) through `send`, which returns false once
    // the peer is gone, and the connection closes after it: for answers that break the rules,
    // such as a trickle, a stall or a body of another length than announced.
    std::function<void(const std::function<bool(std::string_view)>& send)> raw;
  };
  using Handler = std::function<Response(const Request&)>;

  // Listens on a free port (or the given one) of `address`, 127.0.0.1 or ::1, at once.
  explicit LoopbackServer(Handler handler, std::uint16_t port = 0,
                          const std::string& address = "127.0.0.1");
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  std::uint16_t port() const { return port_; }
  // "http://" + the address (an IPv6 one in brackets) + ":" + the port + `path`.
  std::string url(const std::string& path) const;
  std::size_t connectionsAccepted() const { return accepted_; }
  std::vector<Request> requests() const;

  // A port on which nothing listens (bound and released at once).
  static std::uint16_t unusedPort();

 private:
  struct Impl;
  void acceptLoop();
  void serve(std::shared_ptr<void> socket);

  Handler handler_;
  std::unique_ptr<Impl> impl_;
  std::uint16_t port_ = 0;
  std::string authorityHost_;
  std::atomic<std::size_t> accepted_ = 0;
  std::atomic<bool> stopping_ = false;
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::vector<std::thread> threads_;
  std::vector<std::shared_ptr<void>> sockets_;  // kept open until destruction: no fd reuse
  std::thread acceptor_;
};

// An answer written piece by piece (head included), `pause` apart, as a slow link delivers it;
// the connection closes after the last piece.
LoopbackServer::Response trickled(std::vector<std::string> pieces, std::chrono::milliseconds pause);

}  // namespace voduzazi::testing
