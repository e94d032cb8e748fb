// TaskSet: the tasks one object started, so that its release can stop them and wait for them.
//
//   detail::TaskSet tasks;
//   std::optional<Task<void>> loop = tasks.start([] { while (!this_task::isCancelled()) tick(); });
//   tasks.close();   // cancels every task, then waits for each (except the one it runs on)
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "voduzazi/concurrency/task.hpp"

namespace voduzazi::realtime::detail {

// Shared objects: safe. Lifetime: the destructor closes the set.
class TaskSet {
 public:
  TaskSet() = default;
  ~TaskSet() { close(); }
  TaskSet(const TaskSet&) = delete;
  TaskSet& operator=(const TaskSet&) = delete;

  // Starts `body` on a task of its own (no task-local values); nothing once the set is closed.
  std::optional<Task<void>> start(std::function<void()> body);
  // True on the thread of one of the set's tasks.
  bool isCurrent() const;
  // Refuses new tasks, cancels every task, and waits until each has ended, except the one this
  // runs on (which then ends by itself). Every wait ends when the tasks honour cancellation.
  void close();

 private:
  struct Member {
    Task<void> task;
    std::shared_ptr<std::atomic<std::thread::id>> thread;
  };

  mutable std::mutex mutex_;
  bool closed_ = false;
  std::vector<Member> members_;  // running, or finished and not yet pruned
};

}  // namespace voduzazi::realtime::detail
