// Task: a body running on its own thread, with a result (or error) that others can wait for and
// a stop source that cancels it cooperatively.
//
//   Task<int> task([] { this_task::sleepFor(1s); return 42; });
//   int answer = task.value();          // waits; rethrows the body's exception
//   Task<void> loop([] { for (;;) this_task::sleepFor(2s); });
//   loop.cancel();                      // the sleep throws CancellationError inside the task
#pragma once

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
#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi {
namespace detail {

// Calls body with the task's stop token when it takes one.
template <class F>
decltype(auto) invokeBody(F& body) {
  if constexpr (std::is_invocable_v<F&, std::stop_token>) {
    return body(this_task::stopToken());
  } else {
    return body();
  }
}

// What a finished body left: its value (std::monostate for void bodies) or its exception.
template <class T>
struct Outcome {
  using Value = std::conditional_t<std::is_void_v<T>, std::monostate, T>;
  std::optional<Value> value;
  std::exception_ptr error;
};

// Runs the body and destroys it before returning its outcome, so that whoever publishes the outcome
// does so only after the body's captures are gone.
template <class T, class F>
Outcome<T> runBody(std::optional<F>& body) {
  Outcome<T> outcome;
  try {
    if constexpr (std::is_void_v<T>) {
      invokeBody(*body);
      outcome.value.emplace();
    } else {
      outcome.value.emplace(invokeBody(*body));
    }
  } catch (...) {
    outcome.error = std::current_exception();
  }
  body.reset();
  return outcome;
}

template <class T>
struct TaskState {
  std::mutex mutex;
  WaitQueue finishedQueue;
  bool finished = false;
  Outcome<T> outcome;
  std::stop_source stop;

  // A waiter never sees the task finished while the body's captures are still alive.
  template <class F>
  void run(std::optional<F>& body) {
    Outcome<T> result = runBody<T>(body);
    std::lock_guard lock(mutex);
    outcome = std::move(result);
    finished = true;
    finishedQueue.notifyAll();
  }

  // Joining does not end on cancellation of the waiter; cancellableValue forwards it instead.
  void waitFinished() {
    std::unique_lock lock(mutex);
    finishedQueue.wait(lock, std::stop_token(), [this] { return finished; });
  }
};

}  // namespace detail

// Distinct objects: safe. Shared objects: safe (handles are cheap copies of one shared state).
// Lifetime: dropping every handle neither cancels nor waits for the body; it runs to its end.
template <class T = void>
class Task {
 public:
  // A task that inherits the caller's task-local values.
  template <class F>
  requires(!std::is_same_v<std::decay_t<F>, Task>) explicit Task(F&& body)
      : Task(std::forward<F>(body), detail::currentBindings()) {}

  // A task that starts with no task-local values bound.
  template <class F>
  static Task detached(F&& body) {
    return Task(std::forward<F>(body), detail::LocalBindings());
  }

  // Requests cancellation; the body sees it through this_task and every runtime wait.
  void cancel() const { state_->stop.request_stop(); }
  bool isCancelled() const { return state_->stop.stop_requested(); }

  bool isFinished() const {
    std::lock_guard lock(state_->mutex);
    return state_->finished;
  }

  // Waits for the body to end and returns its result or rethrows its exception.
  T value() const {
    state_->waitFinished();
    if (state_->outcome.error) std::rethrow_exception(state_->outcome.error);
    if constexpr (!std::is_void_v<T>) return *state_->outcome.value;
  }

  // As value(), but cancelling the waiting task also cancels this one.
  T cancellableValue() const {
    std::stop_callback forward(this_task::stopToken(),
                               [state = state_] { state->stop.request_stop(); });
    return value();
  }

  friend bool operator==(const Task& a, const Task& b) { return a.state_ == b.state_; }

 private:
  template <class F>
  Task(F&& body, detail::LocalBindings locals) : state_(std::make_shared<detail::TaskState<T>>()) {
    // std::function needs a copyable callable; the body itself may be move-only.
    auto holder = std::make_shared<std::optional<std::decay_t<F>>>(std::forward<F>(body));
    detail::spawnTaskThread([state = state_, holder] { state->run(*holder); },
                            state_->stop.get_token(), std::move(locals));
  }

  std::shared_ptr<detail::TaskState<T>> state_;
};

}  // namespace voduzazi
