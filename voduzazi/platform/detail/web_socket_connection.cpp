#include "voduzazi/platform/detail/web_socket_connection.hpp"

#include <openssl/crypto.h>

#include <algorithm>
#include <boost/asio/post.hpp>
#include <condition_variable>
#include <map>
#include <set>
#include <vector>

namespace voduzazi::detail {

namespace net = boost::asio;

WebSocketConnection::WebSocketConnection(URLRequest request, std::vector<std::string> protocols,
                                         WebSocketTaskConfiguration configuration,
                                         WebSocketTaskDelegate delegate)
    : request_(std::move(request)),
      protocols_(std::move(protocols)),
      configuration_(std::move(configuration)),
      work_(std::in_place, net::make_work_guard(*ioc_)),
      delegate_(std::move(delegate)),
      closeTimer_(std::in_place, *ioc_) {}

namespace {

// Threads of connections destroyed on their own thread (which cannot join itself). Such a
// thread is joined by the next connection, or at process exit. A delegate call running at exit
// may still drop the last reference to its connection, so exit first lets every running
// connection thread finish what it is doing, then waits for the threads winding down (letting
// their context go) and joins them: no connection is still tearing down while the process ends.
class FinishedThreads {
 public:
  // The connection's thread runs `ioc`'s handlers (delegate calls) from now on.
  void running(net::io_context& ioc) {
    std::lock_guard lock(mutex_);
    running_.emplace(&ioc, std::this_thread::get_id());
  }

  // It runs no more of them, and winds down until wound(); `ioc` may go once this returned.
  void stopped(net::io_context& ioc) {
    {
      std::lock_guard lock(mutex_);
      running_.erase(&ioc);
      busy_.erase(&ioc);
      ++windingDown_;
    }
    changed_.notify_all();
  }

  void wound() {
    {
      std::lock_guard lock(mutex_);
      --windingDown_;
    }
    changed_.notify_all();
  }

  void adopt(std::thread thread) {
    std::lock_guard lock(mutex_);
    if (exiting_) return thread.detach();
    threads_.push_back(std::move(thread));
  }

  void joinAll() {
    std::vector<std::thread> finished;
    {
      std::lock_guard lock(mutex_);
      finished.swap(threads_);
    }
    for (auto& thread : finished) thread.join();
  }

  void joinAtExit() {
    {
      std::unique_lock lock(mutex_);
      // A connection thread runs its handlers in order: once this one ran, the delegate call
      // it was in has ended (and with it any release it made). Exiting from inside a delegate
      // call skips that call's own thread.
      for (const auto& [ioc, thread] : running_) {
        if (thread == std::this_thread::get_id()) continue;
        busy_.insert(ioc);
        net::post(*ioc, [this, ioc = ioc] {
          {
            std::lock_guard lock(mutex_);
            busy_.erase(ioc);
          }
          changed_.notify_all();
        });
      }
      changed_.wait(lock, [this] { return busy_.empty() && windingDown_ == 0; });
      exiting_ = true;
    }
    joinAll();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::thread> threads_;
  std::map<net::io_context*, std::thread::id> running_;
  std::set<net::io_context*> busy_;
  int windingDown_ = 0;
  bool exiting_ = false;
};

FinishedThreads& finishedThreads() {
  // Never destroyed, so a thread may still hand itself over while statics are being destroyed.
  static auto* threads = new FinishedThreads;
  static const struct JoinAtExit {
    ~JoinAtExit() { finishedThreads().joinAtExit(); }
  } joinAtExit;
  return *threads;
}

WebSocketTaskError notConnected() {
  return WebSocketTaskError(make_error_code(std::errc::not_connected), "The connection is closed");
}

}  // namespace

WebSocketConnection::~WebSocketConnection() {
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    finishedThreads().adopt(std::move(thread_));
  } else {
    thread_.join();
  }
}

template <class Work>
bool WebSocketConnection::post(Work work) {
  std::lock_guard lock(postMutex_);
  if (ioEnded_) return false;
  net::post(*ioc_, std::move(work));
  return true;
}

void WebSocketConnection::resume() {
  if (resumed_.exchange(true)) return;
  finishedThreads().joinAll();
  // The thread keeps the connection alive until it has ended and its context is gone.
  thread_ = std::thread([self = shared_from_this()]() mutable {
    self->threadId_ = std::this_thread::get_id();
    auto& finished = finishedThreads();
    finished.running(*self->ioc_);
    self->ioc_->run();
    finished.stopped(*self->ioc_);
    self->endIo();
    // The thread's TLS state (random generators) goes now, not in a thread-exit hook that may
    // run while the process is already ending.
    OPENSSL_thread_stop();
    self->threadId_ = std::thread::id();
    self.reset();  // the last owner may be this thread: the connection then hands it over
    finished.wound();
  });
  post([self = shared_from_this()] {
    if (self->completed_) return;  // cancelled before it started
    self->started_ = true;
    self->connect();
  });
}

void WebSocketConnection::endIo() {
  {
    std::lock_guard lock(postMutex_);
    ioEnded_ = true;
  }
  // Work posted while run() was returning: a send still learns that the connection has ended.
  ioc_->restart();
  ioc_->poll();
  dropIo();
  closeTimer_.reset();
  work_.reset();
  // Closes the context's descriptors and joins its resolver's thread.
  ioc_.reset();
}

void WebSocketConnection::send(WebSocketMessage message, WebSocketTask::SendCompletion completion) {
  {
    std::lock_guard lock(postMutex_);
    if (!ioEnded_) {
      net::post(*ioc_, [self = shared_from_this(), message = std::move(message),
                        completion = std::move(completion)]() mutable {
        if (self->completed_ || self->closing_) {
          if (completion) completion(notConnected());
          return;
        }
        self->outgoing_.push_back(Outgoing{std::move(message), std::move(completion)});
        self->writeNext();
      });
      return;
    }
  }
  if (completion) completion(notConnected());
}

void WebSocketConnection::cancel() {
  post([self = shared_from_this()] {
    if (self->completed_) return;
    self->abort();
    // Operations in flight end with operation_aborted; before connecting nothing is in flight.
    if (!self->started_) self->fail(net::error::operation_aborted);
  });
}

void WebSocketConnection::close(int code, Data reason) {
  post([self = shared_from_this(), code, reason = std::move(reason)]() mutable {
    if (self->completed_ || self->closing_) return;
    self->closing_ = true;
    self->outgoing_.push_back(Outgoing{CloseFrame{code, std::move(reason)}, {}});
    self->armCloseTimer();
    self->writeNext();
  });
}

void WebSocketConnection::armCloseTimer() {
  const auto bound = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::clamp(configuration_.closeTimeout, std::chrono::duration<double>::zero(),
                 std::chrono::duration<double>(24 * 3600)));
  closeTimer_->expires_after(bound);
  closeTimer_->async_wait([self = shared_from_this()](const boost::system::error_code& error) {
    if (error || self->completed_) return;
    self->fail(make_error_code(std::errc::timed_out));
  });
}

void WebSocketConnection::release() {
  cancel();
  if (!resumed_) {
    // No thread ever ran the context: end the connection here.
    ioc_->run();
    endIo();
    return;
  }
  // On its own thread (inside a delegate call) the thread ends by itself once the connection
  // has; whoever destroys the connection then joins it.
  if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) return;
  thread_.join();
}

std::shared_ptr<const HTTPURLResponse> WebSocketConnection::response() const {
  std::lock_guard lock(responseMutex_);
  return response_;
}

void WebSocketConnection::opened(const std::string& protocol,
                                 std::shared_ptr<const HTTPURLResponse> response) {
  {
    std::lock_guard lock(responseMutex_);
    response_ = std::move(response);
  }
  open_ = true;
  if (delegate_.didOpen) delegate_.didOpen(protocol);
  writeNext();
}

void WebSocketConnection::received(WebSocketMessage message) {
  if (delegate_.didReceive) delegate_.didReceive(std::move(message));
}

void WebSocketConnection::closedByPeer(int code, std::optional<Data> reason) {
  if (completed_) return;
  if (delegate_.didClose) delegate_.didClose(code, std::move(reason));
  complete(std::nullopt);
}

void WebSocketConnection::wrote(const boost::system::error_code& error) {
  auto done = std::move(outgoing_.front().completion);
  outgoing_.pop_front();
  writing_ = false;
  if (done) {
    if (error) {
      done(WebSocketTaskError(error, error.message()));
    } else {
      done(std::nullopt);
    }
  }
  // A failed write leaves the stream unusable; the read loop reports how the connection ended.
  if (!error) writeNext();
}

void WebSocketConnection::fail(const boost::system::error_code& error,
                               std::shared_ptr<const HTTPURLResponse> response) {
  if (completed_) return;
  if (response) {
    std::lock_guard lock(responseMutex_);
    response_ = response;
  }
  std::string description = error == net::error::operation_aborted ? "cancelled" : error.message();
  complete(WebSocketTaskError(error, std::move(description), std::move(response)));
}

void WebSocketConnection::writeNext() {
  if (!open_ || writing_ || outgoing_.empty() || completed_) return;
  writing_ = true;
  write(outgoing_.front());
}

void WebSocketConnection::complete(std::optional<WebSocketTaskError> error) {
  completed_ = true;
  // The thread ends once what is still in flight has been aborted.
  work_.reset();
  closeTimer_->cancel();
  abort();
  // Messages that never left learn it; the delegate goes last, and is dropped so that nothing
  // it holds keeps anything alive.
  std::deque<Outgoing> pending;
  // The frame being written stays: its bytes are in use, and its write handler answers it.
  while (outgoing_.size() > (writing_ ? 1u : 0u)) {
    pending.push_front(std::move(outgoing_.back()));
    outgoing_.pop_back();
  }
  for (auto& outgoing : pending) {
    if (outgoing.completion) outgoing.completion(notConnected());
  }
  auto delegate = std::move(delegate_);
  delegate_ = {};
  if (delegate.didComplete) delegate.didComplete(error);
}

}  // namespace voduzazi::detail
