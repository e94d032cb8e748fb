// ClockEnvironment: the clocks a view or component should use, replaceable in tests.
//
//   ClockEnvironment environment;                       // the shared real clocks
//   environment.continuousClock = std::make_shared<AnyClock>(testClock);
//   environment.continuousClock->sleep(...);
#pragma once

#include <memory>

#include "voduzazi/clocks/any_clock.hpp"

namespace voduzazi {

// The process-wide real clocks, each made once on first use.
std::shared_ptr<AnyClock> defaultContinuousClock();
std::shared_ptr<AnyClock> defaultSuspendingClock();

// A value type: copies share the clocks they point to.
struct ClockEnvironment {
  std::shared_ptr<AnyClock> continuousClock = defaultContinuousClock();
  std::shared_ptr<AnyClock> suspendingClock = defaultSuspendingClock();
};

}  // namespace voduzazi
