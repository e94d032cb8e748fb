#include "voduzazi/clocks/clock_environment.hpp"

#include "voduzazi/clocks/system_clocks.hpp"

namespace voduzazi {

std::shared_ptr<AnyClock> defaultContinuousClock() {
  // Made once and never released, so it outlives every task that sleeps on it.
  static const auto* clock =
      new std::shared_ptr<AnyClock>(std::make_shared<AnyClock>(ContinuousClock()));
  return *clock;
}

std::shared_ptr<AnyClock> defaultSuspendingClock() {
  static const auto* clock =
      new std::shared_ptr<AnyClock>(std::make_shared<AnyClock>(SuspendingClock()));
  return *clock;
}

}  // namespace voduzazi
