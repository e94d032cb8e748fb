// TestMainExecutor: the test thread as the app's main thread. Posted work runs when the test
// calls runUntil(); delayed work runs when the test advances the executor's own clock.
//
//   auto main = std::make_shared<TestMainExecutor>();
//   service->signIn(email, password, done);
//   ASSERT_TRUE(main->runUntil([&] { return signedIn; }));
//   main->advance(2s);                       // the next poll starts
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

#include "tapwick/main_executor.hpp"

namespace tapwick::testing {

class TestMainExecutor : public MainExecutor {
 public:
  using Clock = std::chrono::steady_clock;

  void post(std::function<void()> work) override {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(work));
    wake_.notify_all();
  }

  void postAfter(std::chrono::milliseconds delay, std::function<void()> work) override {
    std::lock_guard lock(mutex_);
    timers_.emplace(std::make_pair(now_ + delay, sequence_++), std::move(work));
  }

  // Runs posted work until `condition` holds; false when it still does not after `limit` of
  // real time.
  template <class Condition>
  bool runUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      drain();
      if (condition()) return true;
      std::unique_lock lock(mutex_);
      if (!wake_.wait_until(lock, deadline, [&] { return !queue_.empty(); })) return condition();
    }
  }

  // Runs what is posted now, without waiting for more.
  void drain() {
    for (;;) {
      std::function<void()> work;
      {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) return;
        work = std::move(queue_.front());
        queue_.pop_front();
      }
      work();
    }
  }

  // Moves the clock forward, running each timer that falls due, in deadline order.
  void advance(std::chrono::milliseconds by) {
    std::chrono::milliseconds target;
    {
      std::lock_guard lock(mutex_);
      target = now_ + by;
    }
    for (;;) {
      std::function<void()> work;
      {
        std::lock_guard lock(mutex_);
        if (timers_.empty() || timers_.begin()->first.first > target) break;
        now_ = timers_.begin()->first.first;
        work = std::move(timers_.begin()->second);
        timers_.erase(timers_.begin());
      }
      work();
      drain();
    }
    std::lock_guard lock(mutex_);
    now_ = target;
  }

  // Drops every posted and delayed piece of work, as the end of the process does.
  void discardAll() {
    std::deque<std::function<void()>> queue;
    std::map<std::pair<std::chrono::milliseconds, std::uint64_t>, std::function<void()>> timers;
    {
      std::lock_guard lock(mutex_);
      queue.swap(queue_);
      timers.swap(timers_);
    }
  }

  std::size_t pendingTimers() const {
    std::lock_guard lock(mutex_);
    return timers_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  std::map<std::pair<std::chrono::milliseconds, std::uint64_t>, std::function<void()>> timers_;
  std::chrono::milliseconds now_{0};
  std::uint64_t sequence_ = 0;
};

}  // namespace tapwick::testing
