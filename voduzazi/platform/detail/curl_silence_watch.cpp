#include "voduzazi/platform/detail/curl_silence_watch.hpp"

#include <algorithm>
#include <cmath>

namespace voduzazi::detail {

SilenceWatch::SilenceWatch(double limit, Clock::time_point start)
    : limit_(std::isfinite(limit) && limit > 0 ? limit : 0), lastMove_(start) {}

bool SilenceWatch::expired(std::uint64_t moved, Clock::time_point now) {
  if (moved != moved_) {
    moved_ = moved;
    lastMove_ = now;
    return false;
  }
  // Compared in seconds as doubles, so that no limit, however large, overflows.
  return limit_ > 0 && silenceSeconds(now) > limit_;
}

std::chrono::milliseconds SilenceWatch::nextCheck(Clock::time_point now) const {
  constexpr std::chrono::milliseconds most(1000);
  if (limit_ == 0) return most;
  const double left = limit_ - silenceSeconds(now);
  if (left >= 1) return most;
  return std::chrono::milliseconds(1 + static_cast<long>(std::ceil(std::max(left, 0.0) * 1000)));
}

double SilenceWatch::silenceSeconds(Clock::time_point now) const {
  return std::chrono::duration<double>(now - lastMove_).count();
}

}  // namespace voduzazi::detail
