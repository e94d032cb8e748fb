#include "voduzazi/clocks/clock.hpp"

#include "voduzazi/concurrency/debug_description.hpp"

namespace voduzazi {

std::string describeDuration(Duration duration) {
  return debugDescription(std::chrono::duration<double>(duration).count()) + " seconds";
}

}  // namespace voduzazi
