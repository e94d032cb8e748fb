#include "voduzazi/helpers/sleep_clock.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <string>

#include "voduzazi/clocks/system_clocks.hpp"
#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi {
namespace detail {

std::chrono::nanoseconds durationFromSeconds(double seconds) {
  using Rep = std::chrono::nanoseconds::rep;
  if (std::isnan(seconds)) throw std::invalid_argument("interval is not a number");
  const double nanoseconds = seconds * 1e9;
  // 2^63 is exactly representable; anything at or past it saturates.
  constexpr double limit = 9223372036854775808.0;
  if (nanoseconds >= limit) return std::chrono::nanoseconds::max();
  if (nanoseconds <= -limit) return std::chrono::nanoseconds::min();
  return std::chrono::nanoseconds(static_cast<Rep>(nanoseconds));
}

double secondsFromDuration(std::chrono::nanoseconds duration) {
  return std::chrono::duration<double>(duration).count();
}

}  // namespace detail

void FallbackClock::sleep(double seconds) {
  // Whole seconds times 1e9 must fit in an unsigned 64-bit count of nanoseconds.
  constexpr double maximumWholeSeconds =
      static_cast<double>(std::numeric_limits<std::uint64_t>::max() / 1'000'000'000ULL);
  // Anything above -1 truncates to zero or more whole seconds; -1 and below are refused.
  if (!std::isfinite(seconds) || seconds <= -1 || std::trunc(seconds) > maximumWholeSeconds) {
    throw std::invalid_argument("FallbackClock cannot sleep for " + std::to_string(seconds) +
                                " seconds");
  }
  if (seconds < 1) return;  // no whole second
  const auto whole = static_cast<std::uint64_t>(std::trunc(seconds));
  // The steady clock's range ends near 292 years; longer sleeps saturate there.
  constexpr auto maximumNanoseconds =
      static_cast<std::uint64_t>(std::numeric_limits<std::chrono::nanoseconds::rep>::max());
  const std::uint64_t nanoseconds =
      whole > maximumNanoseconds / 1'000'000'000ULL ? maximumNanoseconds : whole * 1'000'000'000ULL;
  this_task::sleepFor(std::chrono::nanoseconds(nanoseconds));
}

namespace {

std::shared_ptr<SleepClock> continuousSleeper() {
  return std::make_shared<ClockSleeper<ContinuousClock>>(std::make_shared<ContinuousClock>());
}

LockIsolated<std::shared_ptr<SleepClock>>& clockHolder() {
  static auto* holder = new LockIsolated<std::shared_ptr<SleepClock>>(continuousSleeper());
  return *holder;
}

}  // namespace

std::shared_ptr<SleepClock> currentClock() { return clockHolder().value(); }

void setCurrentClock(std::shared_ptr<SleepClock> clock) {
  clockHolder().setValue(clock ? std::move(clock) : continuousSleeper());
}

}  // namespace voduzazi
