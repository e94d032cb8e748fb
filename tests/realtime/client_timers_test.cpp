#include "voduzazi/realtime/client_timers.hpp"

#include <gtest/gtest.h>

#include "voduzazi/concurrency/task.hpp"

namespace voduzazi::realtime {
namespace {

TEST(ClientTimers, ADeadlineCancelsTheOperationAndTurnsItsEndIntoATimeout) {
  ClientTimers timers;
  EXPECT_THROW(timers.withDeadline(0.05, [] { this_task::never(); }), TimeoutError);
  // A deadline already past ends the first wait at once.
  EXPECT_THROW(timers.withDeadline(0.0, [] { this_task::never(); }), TimeoutError);
  // The largest time-out never comes; the operation's own end counts.
  EXPECT_EQ(timers.withDeadline(1e300, [] { return 7; }), 7);
  const detail::OneShot<int> value;
  value.send(3);
  EXPECT_EQ(timers.waitFor(value, 1e300), 3);
  EXPECT_EQ(timers.waitFor(detail::OneShot<int>(), 0.05), std::nullopt);
}

TEST(ClientTimers, CancellingTheCallerIsNoTimeout) {
  ClientTimers timers;
  Task<void> waiting([&timers] { timers.withDeadline(1e300, [] { this_task::never(); }); });
  waiting.cancel();
  EXPECT_THROW(waiting.value(), CancellationError);
}

}  // namespace
}  // namespace voduzazi::realtime
