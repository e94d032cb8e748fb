#include "voduzazi/realtime/timer_clock.hpp"

#include "voduzazi/clocks/system_clocks.hpp"

namespace voduzazi::realtime {

const std::shared_ptr<AnyClock>& defaultTimerClock() {
  static const auto* clock =
      new std::shared_ptr<AnyClock>(std::make_shared<AnyClock>(ContinuousClock{}));
  return *clock;
}

}  // namespace voduzazi::realtime
