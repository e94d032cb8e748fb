// WaitQueue: the one blocking primitive of the runtime. Every wait honours a stop token and is
// counted out of the runnable tasks while it blocks; a waker counts the woken tasks back in before
// it notifies them, so megaYield never mistakes a woken task for an idle one.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>
#include <vector>

#include "voduzazi/concurrency/detail/quiescence.hpp"

namespace voduzazi::detail {

// Used together with the caller's own mutex, which guards the waited-for state and the queue.
class WaitQueue {
 public:
  // Blocks until pred() holds or `stop` is requested; returns pred(). `lock` must hold the mutex.
  template <class Pred>
  bool wait(std::unique_lock<std::mutex>& lock, std::stop_token stop, Pred pred) {
    return waitUntil(lock, std::move(stop), std::chrono::steady_clock::time_point::max(), pred);
  }

  // As wait, but also returns (with pred()) once `deadline` has passed.
  template <class Pred>
  bool waitUntil(std::unique_lock<std::mutex>& lock, std::stop_token stop,
                 std::chrono::steady_clock::time_point deadline, Pred pred);

  // True while a thread is inside a wait of this queue (woken ones until they leave it). Call with
  // the mutex held.
  bool hasWaiters() const { return !waiters_.empty(); }

  // Wakes every waiter. Call with the mutex held.
  void notifyAll() {
    for (Waiter* waiter : waiters_) waiter->countIn();
    changed_.notify_all();
  }

 private:
  // One blocking episode: counted out of the runnable tasks from construction until the first of
  // a waker, a stop request or its own end counts it back in. Listed in the queue meanwhile.
  class Waiter {
   public:
    explicit Waiter(std::vector<Waiter*>& list) : list_(list) {
      if (tracked_) Quiescence::shared().blocked();
      try {
        list_.push_back(this);
      } catch (...) {
        countIn();
        throw;
      }
    }
    ~Waiter() {
      list_.erase(std::find(list_.begin(), list_.end(), this));
      countIn();
    }
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    void countIn() {
      if (!countedIn_.exchange(true) && tracked_) Quiescence::shared().unblocked();
    }
    bool countedIn() const { return countedIn_.load(); }

   private:
    std::vector<Waiter*>& list_;
    const bool tracked_ = currentThreadIsTracked();
    std::atomic<bool> countedIn_{false};
  };

  std::vector<Waiter*> waiters_;
  std::condition_variable_any changed_;
};

template <class Pred>
bool WaitQueue::waitUntil(std::unique_lock<std::mutex>& lock, std::stop_token stop,
                          std::chrono::steady_clock::time_point deadline, Pred pred) {
  while (!pred()) {
    if (stop.stop_requested() || std::chrono::steady_clock::now() >= deadline) return false;
    Waiter waiter(waiters_);
    // Runs inside request_stop(), so a cancelled task is runnable again before cancel() returns.
    std::stop_callback onStop(stop, [&waiter] { waiter.countIn(); });
    auto woken = [&] { return waiter.countedIn() || pred(); };
    if (deadline == std::chrono::steady_clock::time_point::max()) {
      changed_.wait(lock, stop, woken);
    } else {
      changed_.wait_until(lock, stop, deadline, woken);
    }
  }
  return true;
}

}  // namespace voduzazi::detail
