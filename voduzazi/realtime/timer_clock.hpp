// The clock the older client's timers wait on unless a test hands them another one.
//
//   HeartbeatTimer timer(30.0, Defaults::heartbeatLeeway, Defaults::heartbeatQueue(),
//                        defaultTimerClock());
#pragma once

#include <memory>

#include "voduzazi/clocks/any_clock.hpp"

namespace voduzazi::realtime {

// The continuous clock, made once and shared by the process.
const std::shared_ptr<AnyClock>& defaultTimerClock();

}  // namespace voduzazi::realtime
