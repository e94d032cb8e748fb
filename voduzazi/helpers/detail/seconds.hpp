// Conversions between floating-point seconds and durations, saturating instead of overflowing.
#pragma once

#include <chrono>

namespace voduzazi::detail {

// Seconds as nanoseconds; values beyond the range saturate to its ends. Throws
// std::invalid_argument for NaN.
std::chrono::nanoseconds durationFromSeconds(double seconds);

double secondsFromDuration(std::chrono::nanoseconds duration);

}  // namespace voduzazi::detail
