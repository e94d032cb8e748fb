#include "voduzazi/realtime/detail/retry_backoff.hpp"

#include <algorithm>
#include <cmath>

namespace voduzazi::realtime::detail {

double retryDelay(int attempt, double unitRandom) {
  const double base = std::min(std::pow(2.0, std::max(attempt, 1) - 1), 30.0);
  const double jitter = (std::clamp(unitRandom, 0.0, 1.0) * 2.0 - 1.0) * 0.25 * base;
  return std::max(base + jitter, 0.1);
}

}  // namespace voduzazi::realtime::detail
