#include "voduzazi/clocks/system_clocks.hpp"

#include <time.h>

#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi {
namespace {

Duration read(clockid_t id) {
  timespec now{};
  clock_gettime(id, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

Duration resolution(clockid_t id) {
  timespec step{};
  clock_getres(id, &step);
  return std::chrono::seconds(step.tv_sec) + std::chrono::nanoseconds(step.tv_nsec);
}

// Sleeps until `clock` reads `deadline`, re-measuring after each wake: the steady clock the wait
// runs on may not count the time the machine was suspended.
void sleepUntil(clockid_t clock, Duration deadline) {
  for (Duration left = deadline - read(clock); left > Duration::zero();
       left = deadline - read(clock)) {
    this_task::sleepFor(left);
  }
  this_task::checkCancellation();
}

}  // namespace

ContinuousClock::Instant ContinuousClock::now() const { return {read(CLOCK_BOOTTIME)}; }

Duration ContinuousClock::minimumResolution() const { return resolution(CLOCK_BOOTTIME); }

void ContinuousClock::sleep(Instant deadline, std::optional<Duration>) const {
  sleepUntil(CLOCK_BOOTTIME, deadline.offset);
}

SuspendingClock::Instant SuspendingClock::now() const { return {read(CLOCK_MONOTONIC)}; }

Duration SuspendingClock::minimumResolution() const { return resolution(CLOCK_MONOTONIC); }

void SuspendingClock::sleep(Instant deadline, std::optional<Duration>) const {
  sleepUntil(CLOCK_MONOTONIC, deadline.offset);
}

}  // namespace voduzazi
