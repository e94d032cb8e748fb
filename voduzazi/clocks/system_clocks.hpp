// The two real clocks: ContinuousClock keeps counting while the machine is suspended,
// SuspendingClock does not. Their sleeps are runtime waits that end early on cancellation.
//
//   ContinuousClock clock;
//   auto start = clock.now();
//   clock.sleep(start.advanced(std::chrono::milliseconds(10)));   // throws CancellationError
#pragma once

#include <optional>

#include "voduzazi/clocks/clock.hpp"

namespace voduzazi {

// Distinct objects: safe. Shared objects: safe (stateless).
class ContinuousClock {
 public:
  using Instant = OffsetInstant<ContinuousClock>;  // since boot
  Instant now() const;
  Duration minimumResolution() const;
  void sleep(Instant deadline, std::optional<Duration> tolerance = std::nullopt) const;
};

// Distinct objects: safe. Shared objects: safe (stateless).
class SuspendingClock {
 public:
  using Instant = OffsetInstant<SuspendingClock>;  // since an arbitrary point; stops in suspend
  Instant now() const;
  Duration minimumResolution() const;
  void sleep(Instant deadline, std::optional<Duration> tolerance = std::nullopt) const;
};

}  // namespace voduzazi
