// SleepClock: the one-operation clock through which the library sleeps, its adapters for the
// clocks of voduzazi/clocks, the fallback clock, and the process-wide current clock.
//
//   currentClock()->sleep(0.25);                                   // a quarter second
//   auto test = std::make_shared<TestClock>();
//   auto sleeper = std::make_shared<ClockSleeper<TestClock>>(test); // wakes when `test` advances
//   setCurrentClock(sleeper);
#pragma once

#include <memory>
#include <utility>

#include "voduzazi/clocks/clock.hpp"
#include "voduzazi/helpers/detail/seconds.hpp"

namespace voduzazi {

// Implementations are safe to share between threads.
class SleepClock {
 public:
  virtual ~SleepClock() = default;
  // Sleeps for `seconds`; throws CancellationError when the calling task is cancelled meanwhile
  // and std::invalid_argument for an interval the clock cannot honour (NaN).
  virtual void sleep(double seconds) = 0;
};

// Sleeps on any clock of voduzazi/clocks: until its now() advanced by the interval, fractions
// kept. A negative interval returns at once; an infinite one sleeps until cancelled.
// Shared objects: as safe as the wrapped clock. Lifetime: keeps the wrapped clock alive.
template <Clock C>
class ClockSleeper final : public SleepClock {
 public:
  explicit ClockSleeper(std::shared_ptr<C> clock) : clock_(std::move(clock)) {}

  void sleep(double seconds) override {
    const Duration interval = detail::durationFromSeconds(seconds);
    const auto now = clock_->now();
    // Saturate rather than overflow: an interval past the clock's range sleeps until cancelled.
    const bool overflows = interval > Duration::zero() && now.offset > Duration::max() - interval;
    clock_->sleep(overflows ? typename C::Instant{Duration::max()} : now.advanced(interval));
  }

 private:
  std::shared_ptr<C> clock_;
};

// Sleeps whole seconds only: the interval is truncated toward zero, so 0.5 and -0.5 do not sleep
// at all and 2.7 sleeps 2 seconds. Throws std::invalid_argument for NaN, infinite intervals, -1
// and below, and ones too large to count in nanoseconds.
class FallbackClock final : public SleepClock {
 public:
  void sleep(double seconds) override;
};

// The clock the library sleeps on: a ClockSleeper over ContinuousClock unless replaced.
// Safe from any thread.
std::shared_ptr<SleepClock> currentClock();
// Replaces the current clock (tests install a test clock); null restores the continuous clock.
void setCurrentClock(std::shared_ptr<SleepClock> clock);

}  // namespace voduzazi
