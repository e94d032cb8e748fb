// this_task: what the running task knows about itself (cancellation, sleeping, yielding), in the
// manner of std::this_thread. On a thread that is not a task, nothing is ever cancelled.
//
//   while (!this_task::isCancelled()) {
//     poll();
//     this_task::sleepFor(std::chrono::seconds(2));  // throws CancellationError when cancelled
//   }
#pragma once

#include <chrono>
#include <optional>
#include <stop_token>

namespace voduzazi::this_task {

// The stop token of the running task; a never-stopping token outside tasks.
std::stop_token stopToken();
bool isCancelled();
// Throws CancellationError when the running task is cancelled.
void checkCancellation();

// Sleep on the steady clock; throw CancellationError when the task is cancelled meanwhile.
void sleepUntil(std::chrono::steady_clock::time_point deadline);
void sleepFor(std::chrono::nanoseconds duration);

// The steady-clock instant `duration` from now: now itself for a duration that is not positive,
// time_point::max() where the sum would overflow.
std::chrono::steady_clock::time_point deadlineAfter(std::chrono::nanoseconds duration);

// Suspends until the task is cancelled, then throws CancellationError.
[[noreturn]] void never();

// The number of rounds megaYield gives by default: "TASK_MEGA_YIELD_COUNT" (clamped to 0...10000),
// or 20 when it is unset or not a base-10 integer. Read once per process.
int defaultMegaYieldCount();
// Parses a "TASK_MEGA_YIELD_COUNT" value with the rules above.
int parseMegaYieldCount(const char* text);

// Gives the other tasks up to `count` rounds to run until each waits in a runtime wait.
void megaYield(std::optional<int> count = std::nullopt);

}  // namespace voduzazi::this_task

namespace voduzazi::detail {

// Makes `token` the running task's stop token for the lifetime of this object.
class ScopedStopToken {
 public:
  explicit ScopedStopToken(std::stop_token token);
  ~ScopedStopToken();
  ScopedStopToken(const ScopedStopToken&) = delete;
  ScopedStopToken& operator=(const ScopedStopToken&) = delete;

 private:
  std::stop_token previous_;
};

}  // namespace voduzazi::detail
