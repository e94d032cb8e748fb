// withTimeout: runs an operation against a deadline and throws TimeoutError when the deadline
// comes first. The deadline is measured on the steady clock; the waiting is done on the current
// SleepClock, so a test clock controls when the timer fires.
//
//   try {
//     Reply reply = withTimeout(10.0, [&] { return channel.join(); });
//   } catch (const TimeoutError&) {
//     // no reply within 10 seconds; the join was cancelled and has ended
//   }
#pragma once

#include <chrono>
#include <exception>
#include <type_traits>
#include <utility>

#include "voduzazi/concurrency/task_group.hpp"
#include "voduzazi/concurrency/this_task.hpp"
#include "voduzazi/helpers/detail/seconds.hpp"
#include "voduzazi/helpers/sleep_clock.hpp"

namespace voduzazi {

// Thrown by withTimeout when the deadline passes before the operation ends. All values are equal.
class TimeoutError : public std::exception {
 public:
  const char* what() const noexcept override { return "TimeoutError()"; }
  friend bool operator==(const TimeoutError&, const TimeoutError&) { return true; }
};

// Runs `operation` in a child task and races it against a timer of `seconds` (NaN throws
// std::invalid_argument). Returns the operation's result or rethrows its error when it ends
// first; otherwise cancels it, waits for it to end, and throws TimeoutError. Cancelling the
// calling task cancels both; whichever ends first decides the outcome.
template <class F>
std::invoke_result_t<F&> withTimeout(double seconds, F operation);

}  // namespace voduzazi

// Implementation.

namespace voduzazi {

template <class F>
std::invoke_result_t<F&> withTimeout(double seconds, F operation) {
  using T = std::invoke_result_t<F&>;
  using std::chrono::steady_clock;
  const steady_clock::time_point deadline =
      this_task::deadlineAfter(detail::durationFromSeconds(seconds));
  TaskGroup<T> group;
  group.addTask(std::move(operation));
  group.addTask([deadline]() -> T {
    const auto remaining = deadline - steady_clock::now();
    if (remaining > steady_clock::duration::zero()) {
      currentClock()->sleep(detail::secondsFromDuration(remaining));
    }
    this_task::checkCancellation();
    throw TimeoutError();
  });
  [[maybe_unused]] auto first = group.next();  // rethrows the first child's error
  group.cancelAll();
  if constexpr (!std::is_void_v<T>) return std::move(*first);
}

}  // namespace voduzazi
