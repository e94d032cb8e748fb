// The clock the older client's timers wait on unless a test hands them another one.
//
//   auto timers = std::make_shared<TimerQueue>(defaultTimerClock());
#pragma once

#include <memory>

#include "voduzazi/clocks/any_clock.hpp"

namespace voduzazi::realtime {

// The continuous clock, made once and shared by the process.
const std::shared_ptr<AnyClock>& defaultTimerClock();

}  // namespace voduzazi::realtime
