// The pause before a channel's next join attempt.
#pragma once

namespace voduzazi::realtime::detail {

// After the `attempt`-th timed-out join (from 1): 2^(attempt-1) seconds capped at 30, moved by
// up to a quarter either way by `unitRandom` (0 gives -25 %, 1 gives +25 %), never below 0.1.
double retryDelay(int attempt, double unitRandom);

}  // namespace voduzazi::realtime::detail
