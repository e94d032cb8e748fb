// The connection behind a WebSocketTask: its I/O context and thread, its state and its write
// queue. The stream itself (plain or TLS) lives in a subclass made by makeWebSocketConnection.
#pragma once

#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <variant>

#include "voduzazi/platform/web_socket_task.hpp"

namespace voduzazi::detail {

// Lifetime: the thread ends, and the I/O context goes with its descriptors and its resolver's
// thread, once the connection has ended (didComplete ran); the object goes with its last owner.
// Members below the line are touched only on the connection's thread.
class WebSocketConnection : public std::enable_shared_from_this<WebSocketConnection> {
 public:
  WebSocketConnection(URLRequest request, std::vector<std::string> protocols,
                      WebSocketTaskConfiguration configuration, WebSocketTaskDelegate delegate);
  virtual ~WebSocketConnection();

  // Called by the task handle, from any thread.
  void resume();
  void send(WebSocketMessage message, WebSocketTask::SendCompletion completion);
  void cancel();
  void close(int code, Data reason);
  // Ends the connection; joins its thread unless called from it.
  void release();
  std::shared_ptr<const HTTPURLResponse> response() const;
  bool isConnectionThread() const { return std::this_thread::get_id() == threadId_.load(); }

 protected:
  struct CloseFrame {
    int code;
    Data reason;
  };
  struct Outgoing {
    std::variant<WebSocketMessage, CloseFrame> frame;
    WebSocketTask::SendCompletion completion;
  };

  // The stream's part of the road: connect (and TLS), handshake, read, write one frame, abort,
  // and at the end drop every I/O object it made on the context.
  virtual void connect() = 0;
  virtual void write(const Outgoing& outgoing) = 0;
  virtual void abort() = 0;
  virtual void dropIo() = 0;

  boost::asio::io_context& ioc() { return *ioc_; }
  bool closeRequested() const { return closing_; }

  // Steps the subclass reports back.
  void opened(const std::string& protocol, std::shared_ptr<const HTTPURLResponse> response);
  void received(WebSocketMessage message);
  void closedByPeer(int code, std::optional<Data> reason);
  void wrote(const boost::system::error_code& error);
  void fail(const boost::system::error_code& error,
            std::shared_ptr<const HTTPURLResponse> response = nullptr);

  const URLRequest request_;
  const std::vector<std::string> protocols_;
  const WebSocketTaskConfiguration configuration_;

 private:
  // Runs `work` on the connection's thread; false (and nothing runs) once its context is gone.
  template <class Work>
  bool post(Work work);
  // Once the context has run out of work: runs what was posted meanwhile, then lets the context
  // go; nothing can be posted any more.
  void endIo();
  void writeNext();
  void complete(std::optional<WebSocketTaskError> error);
  // Bounds the closing handshake: a write or read the peer never completes cannot hold it open.
  void armCloseTimer();

  std::optional<boost::asio::io_context> ioc_{std::in_place};
  std::thread thread_;
  std::atomic<std::thread::id> threadId_{};
  std::atomic<bool> resumed_{false};
  std::atomic<bool> completed_{false};
  mutable std::mutex responseMutex_;
  std::shared_ptr<const HTTPURLResponse> response_;
  // Held while posting, so that the context cannot go in between.
  std::mutex postMutex_;
  bool ioEnded_ = false;
  // ---
  std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work_;
  WebSocketTaskDelegate delegate_;
  std::optional<boost::asio::steady_timer> closeTimer_;
  std::deque<Outgoing> outgoing_;
  bool started_ = false;
  bool open_ = false;
  bool writing_ = false;
  bool closing_ = false;
};

std::shared_ptr<WebSocketConnection> makeWebSocketConnection(
    URLRequest request, std::vector<std::string> protocols,
    WebSocketTaskConfiguration configuration, WebSocketTaskDelegate delegate);

}  // namespace voduzazi::detail
