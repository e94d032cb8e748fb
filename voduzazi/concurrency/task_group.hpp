// TaskGroup: child tasks that share one stop source linked to the creating task; their results
// arrive in the order they finish, and leaving the group's scope cancels and awaits the rest.
//
//   TaskGroup<int> group;
//   group.addTask([] { return fetchA(); });
//   group.addTask([] { return fetchB(); });
//   int first = *group.next();   // the first child to finish; rethrows its error
//   // ~TaskGroup cancels the other child and waits for it
#pragma once

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>
#include <variant>

#include "voduzazi/concurrency/detail/spawn.hpp"
#include "voduzazi/concurrency/detail/wait_queue.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi {

// Shared objects: unsafe (one owning scope adds children and awaits them).
// Lifetime: the destructor cancels the remaining children and returns when all have ended.
template <class T>
class TaskGroup {
 public:
  // What next() yields for each child: the result, or std::monostate for void children.
  using Value = typename detail::Outcome<T>::Value;

  TaskGroup()
      : state_(std::make_shared<State>()), parentLink_(this_task::stopToken(), Canceller{state_}) {}

  ~TaskGroup() {
    cancelAll();
    std::deque<Outcome> untaken;
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, std::stop_token(), [this] { return state_->running == 0; });
    // Results nobody took end with the scope, not later on whichever child thread lets go last.
    untaken.swap(state_->done);
    lock.unlock();
  }

  TaskGroup(const TaskGroup&) = delete;
  TaskGroup& operator=(const TaskGroup&) = delete;

  // Starts a child that inherits the caller's task-local values and the group's stop token.
  template <class F>
  void addTask(F&& body) {
    {
      std::lock_guard lock(state_->mutex);
      ++state_->running;
    }
    auto holder = std::make_shared<std::optional<std::decay_t<F>>>(std::forward<F>(body));
    try {
      detail::spawnTaskThread([state = state_, holder] { state->run(*holder); },
                              state_->stop.get_token(), detail::currentBindings());
    } catch (...) {
      std::lock_guard lock(state_->mutex);
      --state_->running;
      throw;
    }
  }

  // Waits for the next child to finish and returns its value or rethrows its error; nullopt when no
  // child is left. Waiting does not end on cancellation: cancellation reaches the children instead.
  std::optional<Value> next() {
    std::unique_lock lock(state_->mutex);
    state_->changed.wait(lock, std::stop_token(),
                         [this] { return !state_->done.empty() || state_->running == 0; });
    if (state_->done.empty()) return std::nullopt;
    Outcome outcome = std::move(state_->done.front());
    state_->done.pop_front();
    lock.unlock();
    if (outcome.error) std::rethrow_exception(outcome.error);
    return std::move(outcome.value);
  }

  // Waits for every child; rethrows the first error among the outcomes not yet taken.
  void waitForAll() {
    while (next()) {
    }
  }

  void cancelAll() { state_->stop.request_stop(); }
  bool isCancelled() const { return state_->stop.stop_requested(); }
  bool isEmpty() const {
    std::lock_guard lock(state_->mutex);
    return state_->running == 0 && state_->done.empty();
  }

 private:
  using Outcome = detail::Outcome<T>;

  struct State {
    std::mutex mutex;
    detail::WaitQueue changed;
    std::stop_source stop;
    int running = 0;
    std::deque<Outcome> done;

    template <class F>
    void run(std::optional<F>& body) {
      Outcome outcome = detail::runBody<T>(body);
      std::lock_guard lock(mutex);
      done.push_back(std::move(outcome));
      --running;
      changed.notifyAll();
    }
  };

  struct Canceller {
    std::shared_ptr<State> state;
    void operator()() const { state->stop.request_stop(); }
  };

  std::shared_ptr<State> state_;
  std::stop_callback<Canceller> parentLink_;
};

}  // namespace voduzazi
