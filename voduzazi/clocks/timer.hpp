// A periodic timer as an async sequence of instants over any clock: each tick sleeps until the
// next point of the grid origin + n * interval and yields the time of waking.
//
//   auto ticks = timer(std::make_shared<ContinuousClock>(), std::chrono::seconds(1));
//   auto it = ticks.makeAsyncIterator();
//   while (auto now = it.next()) refresh();      // ends (nullopt) once the task is cancelled
#pragma once

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>

#include "voduzazi/clocks/any_clock.hpp"
#include "voduzazi/clocks/clock.hpp"

namespace voduzazi {

// Distinct objects: safe. Iterators are used by one task at a time.
template <Clock C>
class AsyncTimerSequence {
 public:
  using Instant = typename C::Instant;

  // Throws std::invalid_argument for an interval that is zero or negative.
  AsyncTimerSequence(Duration interval, std::optional<Duration> tolerance, std::shared_ptr<C> clock)
      : clock_(std::move(clock)), interval_(interval), tolerance_(tolerance) {
    if (interval_ <= Duration::zero()) {
      throw std::invalid_argument("timer interval must be positive");
    }
  }

  class Iterator {
   public:
    // The time of the next tick; nullopt once a sleep failed (the task was cancelled), for good.
    std::optional<Instant> next() {
      if (!clock_) return std::nullopt;
      const Instant deadline = nextDeadline();
      try {
        clock_->sleep(deadline, tolerance_);
      } catch (...) {
        clock_.reset();
        return std::nullopt;
      }
      last_ = deadline;
      return clock_->now();
    }

   private:
    friend class AsyncTimerSequence;
    Iterator(std::shared_ptr<C> clock, Duration interval, std::optional<Duration> tolerance)
        : clock_(std::move(clock)), interval_(interval), tolerance_(tolerance) {}

    // The next point of the grid; after missed ticks, the first one not before `now` counted from
    // the last deadline (which may still lie before `now`, so the next sleep returns at once).
    Instant nextDeadline() const {
      const Instant now = clock_->now();
      const Instant base = last_.value_or(now);
      const Instant next = base.advanced(interval_);
      if (!(next < now)) return next;
      const double missed = std::ceil(static_cast<double>(next.durationTo(now).count()) /
                                      static_cast<double>(interval_.count()));
      const double limit = static_cast<double>(std::numeric_limits<Duration::rep>::max()) /
                           static_cast<double>(interval_.count());
      const auto ticks = static_cast<Duration::rep>(std::min(missed, limit - 1));
      return base.advanced(interval_ * ticks);
    }

    std::shared_ptr<C> clock_;
    Duration interval_;
    std::optional<Duration> tolerance_;
    std::optional<Instant> last_;
  };

  Iterator makeAsyncIterator() const { return Iterator(clock_, interval_, tolerance_); }

 private:
  std::shared_ptr<C> clock_;
  Duration interval_;
  std::optional<Duration> tolerance_;
};

// A timer over `clock`, erased to AnyClock at this call: the grid starts at the clock's time now.
template <Clock C>
AsyncTimerSequence<AnyClock> timer(std::shared_ptr<C> clock, Duration interval,
                                   std::optional<Duration> tolerance = std::nullopt) {
  return AsyncTimerSequence<AnyClock>(interval, tolerance,
                                      std::make_shared<AnyClock>(std::move(clock)));
}

}  // namespace voduzazi
