// A transfer's silence: how long no byte has moved, against the request's time-out.
#pragma once

#include <chrono>
#include <cstdint>

namespace voduzazi::detail {

// Told the count of bytes moved so far, now and then, it says when that count has stood still
// for longer than the limit. Distinct objects: safe; shared objects: unsafe.
class SilenceWatch {
 public:
  using Clock = std::chrono::steady_clock;

  // `limit` in seconds; 0 and +infinity: no limit (the caller refuses NaN and negative limits).
  SilenceWatch(double limit, Clock::time_point start);

  // Takes the count of bytes moved by `now`; true once it has not changed for over the limit.
  bool expired(std::uint64_t moved, Clock::time_point now);

  // How long the caller may wait before asking again: until the limit would run out (at least a
  // millisecond), at most a second.
  std::chrono::milliseconds nextCheck(Clock::time_point now) const;

  double limit() const { return limit_; }

 private:
  double silenceSeconds(Clock::time_point now) const;

  double limit_;  // 0: none
  Clock::time_point lastMove_;
  std::uint64_t moved_ = 0;
};

}  // namespace voduzazi::detail
