// A MainExecutor on a thread of its own with a real clock, for benchmarks that run the app's
// service without Qt.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "tapwick/main_executor.hpp"

namespace bench {

class MainThread : public tapwick::MainExecutor {
 public:
  using Clock = std::chrono::steady_clock;

  MainThread() : thread_([this] { run(); }) {}
  ~MainThread() override {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }

  void post(std::function<void()> work) override { postAfter({}, std::move(work)); }
  void postAfter(std::chrono::milliseconds delay, std::function<void()> work) override {
    {
      std::lock_guard lock(mutex_);
      work_.emplace(std::make_pair(Clock::now() + delay, sequence_++), std::move(work));
    }
    wake_.notify_all();
  }

  // Runs `work` on the main thread and waits for it.
  template <class F>
  void sync(F work) {
    std::mutex done;
    std::condition_variable finished;
    bool ran = false;
    post([&] {
      work();
      std::lock_guard lock(done);
      ran = true;
      finished.notify_all();
    });
    std::unique_lock lock(done);
    finished.wait(lock, [&] { return ran; });
  }

 private:
  void run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
      if (work_.empty()) {
        wake_.wait(lock);
        continue;
      }
      const auto due = work_.begin()->first.first;
      if (due > Clock::now()) {
        wake_.wait_until(lock, due);
        continue;
      }
      auto work = std::move(work_.begin()->second);
      work_.erase(work_.begin());
      lock.unlock();
      work();
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::pair<Clock::time_point, std::uint64_t>, std::function<void()>> work_;
  std::uint64_t sequence_ = 0;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace bench
