// ListenerQueue: where the listeners of one realtime client (its status and heartbeat listeners
// and its channels' status listeners) are called: one at a time, in the order the calls were
// queued, on one thread of its own started with the first call, however many listeners there are.
//
//   auto queue = std::make_shared<detail::ListenerQueue>();
//   queue->post([listener, status] { listener(status); });
//   queue->close();   // no listener is called once this returns
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "voduzazi/concurrency/serial_executor.hpp"

namespace voduzazi::realtime::detail {

// Shared objects: safe. Lifetime: the destructor closes the queue.
class ListenerQueue {
 public:
  ListenerQueue() = default;
  ~ListenerQueue() { close(); }
  ListenerQueue(const ListenerQueue&) = delete;
  ListenerQueue& operator=(const ListenerQueue&) = delete;

  // Queues one call; never blocks on listeners. Dropped once the queue is closed.
  void post(std::function<void()> call);
  // Drops the calls not yet made and waits for the one under way, after which the thread is gone;
  // called from that call itself, it returns at once and the thread ends after it, making no
  // further call. Later calls are dropped.
  void close();
  bool isClosed() const { return shared_->closed; }

 private:
  struct Shared {
    std::atomic<bool> closed{false};
  };

  const std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::mutex mutex_;
  std::unique_ptr<SerialExecutor> thread_;  // made with the first call
};

}  // namespace voduzazi::realtime::detail
