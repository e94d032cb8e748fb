// UnimplementedClock: a clock for code that is not supposed to use one. Every read of its time or
// resolution and every sleep reports an issue, then forwards to a working base clock, so that the
// code under test keeps running.
//
//   auto clock = UnimplementedClock::unimplemented();   // an immediate base, named "Clock"
//   auto start = clock.now();                           // reports "Unimplemented: Clock.now"
//   clock.sleep(start.advanced(std::chrono::seconds(1)));   // reports, then returns at once
//   UnimplementedClock wrapped(std::make_shared<TestClock>(), "Scheduler.clock");
#pragma once

#include <compare>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "voduzazi/clocks/any_clock.hpp"
#include "voduzazi/clocks/clock.hpp"
#include "voduzazi/clocks/immediate_clock.hpp"
#include "voduzazi/issue_reporting/source_location.hpp"

namespace voduzazi {

// Shared objects: safe (an immutable value; the base clock guards its own state).
// Lifetime: copies share one base clock.
class UnimplementedClock {
 public:
  struct Instant {
    AnyClock::Instant rawValue;

    Instant advanced(Duration by) const { return {rawValue.advanced(by)}; }
    Duration durationTo(Instant other) const { return rawValue.durationTo(other.rawValue); }

    friend auto operator<=>(const Instant&, const Instant&) = default;
  };

  // Wraps `base`; issues are reported as `name` at `location`.
  template <Clock C>
  explicit UnimplementedClock(std::shared_ptr<C> base, std::string name = "Clock",
                              SourceLocation location = SourceLocation::current())
      : UnimplementedClock(AnyClock(std::move(base)), std::move(name), std::move(location)) {}

  // An immediate base clock whose time starts at `now`.
  UnimplementedClock(std::string name, ImmediateClock::Instant now,
                     SourceLocation location = SourceLocation::current());

  // An immediate base clock starting at zero; issues are reported at this library's own location
  // ("Clocks/UnimplementedClock", line 163, column 16).
  explicit UnimplementedClock(std::string name);

  // A clock named "Clock" on an immediate base starting at zero, reporting at `location`.
  static UnimplementedClock unimplemented(SourceLocation location = SourceLocation::current());

  // Each reports "Unimplemented: " + name + ".now" (".minimumResolution", ".sleep") through
  // reportIssue, then forwards to the base. sleep passes on what the base's sleep throws
  // (CancellationError included).
  Instant now() const;
  Duration minimumResolution() const;
  void sleep(Instant deadline, std::optional<Duration> tolerance = std::nullopt) const;

  const std::string& name() const { return name_; }
  const SourceLocation& location() const { return location_; }

 private:
  UnimplementedClock(AnyClock base, std::string name, SourceLocation location);

  void reportUnimplemented(const char* member) const;

  AnyClock base_;
  std::string name_;
  SourceLocation location_;
};

}  // namespace voduzazi

template <>
struct std::hash<voduzazi::UnimplementedClock::Instant> {
  std::size_t operator()(const voduzazi::UnimplementedClock::Instant& instant) const {
    return std::hash<voduzazi::AnyClock::Instant>()(instant.rawValue);
  }
};
