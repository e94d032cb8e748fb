// The clock vocabulary: durations, instants measured as an offset from a clock's origin, and the
// Clock concept that every clock here satisfies.
//
//   template <Clock C> void waitABit(C& clock) {
//     clock.sleep(clock.now().advanced(std::chrono::seconds(1)));
//   }
#pragma once

#include <chrono>
#include <compare>
#include <concepts>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace voduzazi {

using Duration = std::chrono::nanoseconds;

// The duration as a number of seconds, in the form "0.5 seconds" or "2.0 seconds".
std::string describeDuration(Duration duration);

// An instant of the clock `Owner`: a duration since that clock's origin. Instants of different
// clocks are different types and cannot be mixed.
template <class Owner>
struct OffsetInstant {
  Duration offset{};

  OffsetInstant advanced(Duration by) const { return {offset + by}; }
  Duration durationTo(OffsetInstant other) const { return other.offset - offset; }

  friend auto operator<=>(const OffsetInstant&, const OffsetInstant&) = default;
};

// What a clock offers: its time, its resolution, and a sleep until a deadline that throws
// CancellationError when the sleeping task is cancelled.
template <class C>
concept Clock = requires(C& clock, const typename C::Instant& deadline,
                         std::optional<Duration> tolerance) {
  { clock.now() } -> std::same_as<typename C::Instant>;
  { clock.minimumResolution() } -> std::same_as<Duration>;
  clock.sleep(deadline, tolerance);
  { deadline.advanced(Duration{}) } -> std::same_as<typename C::Instant>;
  { deadline.durationTo(deadline) } -> std::same_as<Duration>;
};

}  // namespace voduzazi

template <class Owner>
struct std::hash<voduzazi::OffsetInstant<Owner>> {
  std::size_t operator()(const voduzazi::OffsetInstant<Owner>& instant) const {
    return std::hash<voduzazi::Duration::rep>()(instant.offset.count());
  }
};
