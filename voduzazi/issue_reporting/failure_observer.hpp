// FailureObserver: counts the issues reported while it is the task's current observer. An
// expected-issue scope binds a fresh one and reads its count afterwards.
//
//   auto observer = std::make_shared<FailureObserver>();
//   FailureObserver::local().withValue(observer, [] { reportIssue("counted"); });
//   std::int64_t seen = observer->withLock([](std::int64_t& count) { return count; });  // 1
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "voduzazi/concurrency/task_local.hpp"

namespace voduzazi {

// Shared objects: safe; the count is read and changed only under the recursive mutex.
// Lifetime: shared by the scope that made it and the tasks that inherited it.
class FailureObserver {
 public:
  explicit FailureObserver(std::int64_t count = 0) : count_(count) {}

  // Runs `body` on the count in place under the lock (re-entrant on the same thread).
  template <class Body>
  decltype(auto) withLock(Body&& body) {
    std::lock_guard lock(mutex_);
    return std::forward<Body>(body)(count_);
  }

  // The observer bound on the calling task, or null.
  static std::shared_ptr<FailureObserver> current();
  static const TaskLocal<std::shared_ptr<FailureObserver>>& local();

 private:
  std::recursive_mutex mutex_;
  std::int64_t count_;
};

}  // namespace voduzazi
