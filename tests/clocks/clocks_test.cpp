#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "voduzazi/clocks/any_clock.hpp"
#include "voduzazi/clocks/clock_environment.hpp"
#include "voduzazi/clocks/immediate_clock.hpp"
#include "voduzazi/clocks/system_clocks.hpp"
#include "voduzazi/clocks/test_clock.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace voduzazi {
namespace {

using namespace std::chrono_literals;
using Instant = ImmediateClock::Instant;

TEST(OffsetInstant, ArithmeticComparisonAndHashing) {
  EXPECT_EQ(Instant{3s}.durationTo(Instant{1s}), -2s);
  EXPECT_EQ(Instant{3s}.advanced(0s), Instant{3s});
  EXPECT_EQ(std::hash<Instant>()(Instant{3s}.advanced(0s)), std::hash<Instant>()(Instant{3s}));
  EXPECT_LT(Instant{1s}, Instant{2s});
}

TEST(DescribeDuration, SecondsWithAFraction) {
  EXPECT_EQ(describeDuration(500ms), "0.5 seconds");
  EXPECT_EQ(describeDuration(2s), "2.0 seconds");
  EXPECT_EQ(describeDuration(1500us), "0.0015 seconds");
}

TEST(AnyClock, StartsAtZeroAndSleepsThroughTheWrappedClock) {
  auto immediate = std::make_shared<ImmediateClock>(Instant{10s});
  AnyClock erased(immediate);
  EXPECT_EQ(erased.now().offset, 0s);
  erased.sleep(erased.now().advanced(5s));
  EXPECT_EQ(erased.now().offset, 5s);
  EXPECT_EQ(immediate->now(), Instant{15s});
  EXPECT_EQ(erased.minimumResolution(), 0s);
}

TEST(ImmediateClock, SleepMovesNowEvenBackwards) {
  ImmediateClock clock(Instant{5s});
  clock.sleep(Instant{8s});
  EXPECT_EQ(clock.now(), Instant{8s});
  clock.sleep(Instant{2s});
  EXPECT_EQ(clock.now(), Instant{2s});
}

TEST(ImmediateClock, CancelledSleepThrowsAndLeavesNow) {
  auto clock = std::make_shared<ImmediateClock>();
  Task<void> task([clock](std::stop_token stop) {
    while (!stop.stop_requested()) std::this_thread::yield();
    clock->sleep(Instant{1s});
  });
  task.cancel();
  EXPECT_THROW(task.value(), CancellationError);
  EXPECT_EQ(clock->now(), Instant{});
}

TEST(ContinuousClock, SleepEndsOnCancellation) {
  ContinuousClock clock;
  const auto before = clock.now();
  clock.sleep(before.advanced(1ms));
  EXPECT_GE(before.durationTo(clock.now()), 1ms);
  Task<void> sleeper([clock] { clock.sleep(clock.now().advanced(1h)); });
  sleeper.cancel();
  EXPECT_THROW(sleeper.value(), CancellationError);
}

TEST(ClockEnvironment, DefaultsAreSharedRealClocksAndCanBeReplaced) {
  ClockEnvironment environment;
  EXPECT_EQ(environment.continuousClock, defaultContinuousClock());
  EXPECT_EQ(environment.suspendingClock, ClockEnvironment().suspendingClock);
  auto test = std::make_shared<AnyClock>(std::make_shared<TestClock>());
  environment.continuousClock = test;
  EXPECT_EQ(environment.continuousClock, test);
}

}  // namespace
}  // namespace voduzazi
