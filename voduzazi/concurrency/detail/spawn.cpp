#include "voduzazi/concurrency/detail/spawn.hpp"

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "voduzazi/concurrency/detail/quiescence.hpp"
#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi::detail {
namespace {

// How long the process waits at exit for tasks that have delivered their results to end.
constexpr int kExitRounds = 50;
constexpr std::chrono::microseconds kExitRound{2000};

// Task threads are joined, not detached: a thread whose body has ended is joined by the next spawn
// or at process exit, so a process that ends right after a task delivered its result does not race
// that thread's own teardown (the release of its thread-local storage). Threads still blocked at
// exit are detached then. Never destroyed: such threads may outlive static teardown.
class TaskThreads {
 public:
  static TaskThreads& shared() {
    static TaskThreads* const instance = [] {
      auto* threads = new TaskThreads();
      std::atexit([] { shared().joinEndedAtExit(); });
      return threads;
    }();
    return *instance;
  }

  template <class Run>
  void start(Run run) {
    // Held while the thread starts, so that its ended() finds it listed.
    std::lock_guard lock(mutex_);
    std::thread thread(std::move(run));
    // Past the exit handler nothing joins any more: a task started during the process's
    // teardown is let go at once.
    if (exiting_) {
      thread.detach();
      return;
    }
    const std::thread::id id = thread.get_id();
    try {
      running_.emplace(id, std::move(thread));
    } catch (...) {
      if (thread.joinable()) thread.detach();
      throw;
    }
  }

  // The last step of a task thread: hands its handle over to be joined.
  void ended() {
    std::lock_guard lock(mutex_);
    const auto self = running_.find(std::this_thread::get_id());
    if (self == running_.end()) return;  // detached: unlisted, or still at work at exit
    ended_.push_back(std::move(self->second));
    running_.erase(self);
  }

  void joinEnded() {
    std::vector<std::thread> ended;
    {
      std::lock_guard lock(mutex_);
      ended.swap(ended_);
    }
    for (std::thread& thread : ended) thread.join();
  }

 private:
  TaskThreads() = default;

  // Joins the threads that have ended and lets go of those still at work: nothing would join
  // them any more, and one that ends later finds itself unlisted and simply returns.
  void joinEndedAtExit() {
    // Tasks that have just delivered their results are still runnable until they hand over.
    Quiescence::shared().waitUntilQuiet(kExitRounds, kExitRound);
    std::vector<std::thread> ended;
    {
      std::lock_guard lock(mutex_);
      exiting_ = true;
      ended.swap(ended_);
      for (auto& [id, thread] : running_) thread.detach();
      running_.clear();
    }
    for (std::thread& thread : ended) thread.join();
  }

  std::mutex mutex_;
  bool exiting_ = false;
  std::unordered_map<std::thread::id, std::thread> running_;
  std::vector<std::thread> ended_;
};

}  // namespace

void spawnTaskThread(std::function<void()> body, std::stop_token stop, LocalBindings locals) {
  TaskThreads& threads = TaskThreads::shared();
  threads.joinEnded();
  Quiescence::shared().taskSpawned();
  try {
    threads.start([body = std::move(body), stop = std::move(stop), locals = std::move(locals),
                   &threads]() mutable {
      markCurrentThreadTracked();
      {
        ScopedStopToken scope(std::move(stop));
        currentBindings() = std::move(locals);
        body();
        body = nullptr;
        currentBindings().reset();
      }
      threads.ended();
      Quiescence::shared().taskFinished();
    });
  } catch (...) {
    Quiescence::shared().taskFinished();
    throw;
  }
}

}  // namespace voduzazi::detail
