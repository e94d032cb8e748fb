#include "voduzazi/clocks/timer.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "voduzazi/clocks/immediate_clock.hpp"
#include "voduzazi/clocks/test_clock.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace voduzazi {
namespace {

using namespace std::chrono_literals;

TEST(Timer, TicksOneIntervalApartOverAnImmediateClock) {
  auto clock = std::make_shared<ImmediateClock>(ImmediateClock::Instant{100s});
  auto ticks = timer(clock, 1s).makeAsyncIterator();
  EXPECT_EQ(ticks.next()->offset, 1s);
  EXPECT_EQ(ticks.next()->offset, 2s);
  EXPECT_EQ(ticks.next()->offset, 3s);
  EXPECT_EQ(clock->now(), ImmediateClock::Instant{103s});
}

TEST(Timer, MissedTicksStayOnTheGridCountedFromTheLastDeadline) {
  auto clock = std::make_shared<ImmediateClock>();
  auto ticks = timer(clock, 1s).makeAsyncIterator();
  EXPECT_EQ(ticks.next()->offset, 1s);
  clock->sleep(ImmediateClock::Instant{3500ms});  // a stall: now is 2.5 s after the last tick
  // next = 2 s is behind now; k = ceil(1.5) = 2 counted from the last tick at 1 s gives 3 s.
  EXPECT_EQ(ticks.next()->offset, 3s);
}

TEST(Timer, CancellationEndsItForGood) {
  auto clock = std::make_shared<TestClock>();
  auto sequence = timer(clock, 1s);
  Task<int> consumer([sequence] {
    auto ticks = sequence.makeAsyncIterator();
    const bool ended = !ticks.next().has_value();
    return ended && !ticks.next().has_value() ? 1 : 0;
  });
  consumer.cancel();
  EXPECT_EQ(consumer.value(), 1);
}

TEST(Timer, RejectsANonPositiveInterval) {
  auto clock = std::make_shared<ImmediateClock>();
  EXPECT_THROW(timer(clock, 0s), std::invalid_argument);
  EXPECT_THROW(timer(clock, -1s), std::invalid_argument);
}

}  // namespace
}  // namespace voduzazi
