#include "voduzazi/clocks/immediate_clock.hpp"

#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi {

ImmediateClock::Instant ImmediateClock::now() const {
  std::lock_guard lock(mutex_);
  return now_;
}

Duration ImmediateClock::minimumResolution() const {
  std::lock_guard lock(mutex_);
  return minimumResolution_;
}

void ImmediateClock::setMinimumResolution(Duration resolution) {
  std::lock_guard lock(mutex_);
  minimumResolution_ = resolution;
}

void ImmediateClock::sleep(Instant deadline, std::optional<Duration>) {
  this_task::checkCancellation();
  {
    std::lock_guard lock(mutex_);
    now_ = deadline;
  }
  this_task::megaYield();
}

}  // namespace voduzazi
