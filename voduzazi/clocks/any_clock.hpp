// AnyClock: any clock behind one type. Its origin (offset zero) is the wrapped clock's time at the
// moment of wrapping.
//
//   auto clock = std::make_shared<AnyClock>(std::make_shared<ImmediateClock>());
//   clock->sleep(clock->now().advanced(std::chrono::seconds(5)));   // moves the wrapped clock
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "voduzazi/clocks/clock.hpp"

namespace voduzazi {

// Shared objects: as safe as the wrapped clock. Lifetime: keeps the wrapped clock alive.
class AnyClock {
 public:
  using Instant = OffsetInstant<AnyClock>;

  template <Clock C>
  explicit AnyClock(std::shared_ptr<C> clock) {
    const auto start = clock->now();
    now_ = [clock, start] { return Instant{start.durationTo(clock->now())}; };
    minimumResolution_ = [clock] { return clock->minimumResolution(); };
    sleep_ = [clock, start](Instant deadline, std::optional<Duration> tolerance) {
      clock->sleep(start.advanced(deadline.offset), tolerance);
    };
  }

  // Wraps a copy of a stateless clock. AnyClock itself is left to the copy constructor, which
  // also keeps the copy_constructible check from depending on this constructor.
  template <Clock C>
  requires(!std::same_as<C, AnyClock> && std::copy_constructible<C>)
  explicit AnyClock(C clock) : AnyClock(std::make_shared<C>(std::move(clock))) {}

  Instant now() const { return now_(); }
  Duration minimumResolution() const { return minimumResolution_(); }
  // Throws what the wrapped clock's sleep throws.
  void sleep(Instant deadline, std::optional<Duration> tolerance = std::nullopt) const {
    sleep_(deadline, tolerance);
  }

 private:
  std::function<Instant()> now_;
  std::function<Duration()> minimumResolution_;
  std::function<void(Instant, std::optional<Duration>)> sleep_;
};

}  // namespace voduzazi
