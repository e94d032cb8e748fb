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
    wake();
  }

 private:
  // One blocking episode: listed in the queue from construction, counted out of the runnable
  // tasks by countOut() until the first of a waker, a stop request or its own end counts it back
  // in. A count-in that comes first (a stop requested before countOut) cancels the count-out.
  class Waiter {
   public:
    explicit Waiter(std::vector<Waiter*>& list) : list_(list) { list_.push_back(this); }
    ~Waiter() {
      list_.erase(std::find(list_.begin(), list_.end(), this));
      countIn();
    }
    Waiter(const Waiter&) = delete;
    Waiter& operator=(const Waiter&) = delete;

    void countOut() {
      State expected = State::running;
      // A count-in between these two steps adds one before this takes it away: the task may
      // briefly count twice, never zero times.
      if (state_.compare_exchange_strong(expected, State::out) && tracked_) {
        Quiescence::shared().blocked();
      }
    }
    void countIn() {
      if (state_.exchange(State::in) == State::out && tracked_) Quiescence::shared().unblocked();
    }
    bool countedIn() const { return state_.load() == State::in; }

   private:
    enum class State { running, out, in };
    std::vector<Waiter*>& list_;
    const bool tracked_ = currentThreadIsTracked();
    std::atomic<State> state_{State::running};
  };

  // Wakes the blocked waiters. Taking `inner_` orders the wake after any waiter that has seen
  // itself not yet counted in and is about to block (it holds `inner_` until it blocks).
  void wake() {
    std::lock_guard inner(inner_);
    changed_.notify_all();
  }

  std::vector<Waiter*> waiters_;
  // The condition variable's own mutex, below the caller's: a stop request can wake a waiter
  // without the caller's mutex, which its requester may hold.
  std::mutex inner_;
  std::condition_variable changed_;
};

template <class Pred>
bool WaitQueue::waitUntil(std::unique_lock<std::mutex>& lock, std::stop_token stop,
                          std::chrono::steady_clock::time_point deadline, Pred pred) {
  while (!pred()) {
    if (stop.stop_requested() || std::chrono::steady_clock::now() >= deadline) return false;
    Waiter waiter(waiters_);
    // The one stop callback: it counts the task back in and wakes it inside request_stop(), so a
    // stopped task is runnable again before request_stop() returns. (A second callback, such as
    // a stop-aware condition variable's own, could wake the task first, and the task could then
    // deregister this one before it ran.)
    std::stop_callback onStop(stop, [this, &waiter] {
      waiter.countIn();
      wake();
    });
    waiter.countOut();
    std::unique_lock inner(inner_);
    if (waiter.countedIn()) continue;  // woken between the check above and here
    lock.unlock();
    if (deadline == std::chrono::steady_clock::time_point::max()) {
      changed_.wait(inner);
    } else {
      changed_.wait_until(inner, deadline);
    }
    inner.unlock();
    lock.lock();
  }
  return true;
}

}  // namespace voduzazi::detail
