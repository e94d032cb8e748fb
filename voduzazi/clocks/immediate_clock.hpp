// ImmediateClock: a clock whose sleeps never wait; each one moves `now` to its deadline at once
// and then lets the other tasks run.
//
//   auto clock = std::make_shared<ImmediateClock>();
//   clock->sleep(clock->now().advanced(std::chrono::hours(1)));   // returns at once
//   assert(clock->now().offset == std::chrono::hours(1));
#pragma once

#include <mutex>
#include <optional>

#include "voduzazi/clocks/clock.hpp"

namespace voduzazi {

// Shared objects: safe. Lifetime: held by shared_ptr by everything that sleeps on it.
class ImmediateClock {
 public:
  using Instant = OffsetInstant<ImmediateClock>;

  explicit ImmediateClock(Instant now = Instant{}) : now_(now) {}
  ImmediateClock(const ImmediateClock&) = delete;
  ImmediateClock& operator=(const ImmediateClock&) = delete;

  Instant now() const;
  Duration minimumResolution() const;
  void setMinimumResolution(Duration resolution);

  // Throws CancellationError (and leaves `now`) when the task is cancelled; otherwise sets `now` to
  // `deadline` (also backwards) and gives the other tasks their chances to run.
  void sleep(Instant deadline, std::optional<Duration> tolerance = std::nullopt);

 private:
  mutable std::mutex mutex_;
  Instant now_;
  Duration minimumResolution_{};
};

}  // namespace voduzazi
