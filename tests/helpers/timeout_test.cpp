#include "voduzazi/helpers/timeout.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "test_support.hpp"
#include "voduzazi/clocks/test_clock.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace voduzazi {
namespace {

using namespace std::chrono_literals;
using testing::eventually;

TEST(WithTimeout, ReturnsTheValueOfAnOperationThatFinishesFirst) {
  EXPECT_EQ(withTimeout(5.0,
                        [] {
                          this_task::sleepFor(10ms);
                          return 42;
                        }),
            42);
}

TEST(WithTimeout, ThrowsTimeoutErrorAndCancelsASlowOperation) {
  const auto start = std::chrono::steady_clock::now();
  bool cancelled = false;
  EXPECT_THROW(withTimeout(0.1,
                           [&] {
                             try {
                               this_task::sleepFor(10s);
                             } catch (const CancellationError&) {
                               cancelled = true;
                               throw;
                             }
                           }),
               TimeoutError);
  EXPECT_TRUE(cancelled);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(WithTimeout, ANonPositiveIntervalTimesOutAtOnce) {
  EXPECT_THROW(withTimeout(0, [] { this_task::sleepFor(10s); }), TimeoutError);
  EXPECT_THROW(withTimeout(-std::numeric_limits<double>::infinity(), [] { this_task::never(); }),
               TimeoutError);
}

TEST(WithTimeout, RethrowsTheOperationsOwnError) {
  EXPECT_THROW(withTimeout(5.0, []() -> int { throw std::logic_error("own"); }), std::logic_error);
}

TEST(WithTimeout, CancellingTheCallerCancelsBothChildren) {
  Task<void> caller([] { withTimeout(60.0, [] { this_task::never(); }); });
  caller.cancel();
  EXPECT_THROW(caller.value(), CancellationError);
}

TEST(ClockSleeper, WakesOnlyWhenTheTestClockAdvancesFarEnough) {
  auto clock = std::make_shared<TestClock>();
  ClockSleeper<TestClock> sleeper(clock);
  Task<void> sleeping([&] { sleeper.sleep(1.5); });
  ASSERT_TRUE(eventually([&] {
    try {
      clock->checkSuspension();
      return false;
    } catch (const SuspensionError&) {
      return true;
    }
  }));
  clock->advance(1s);
  EXPECT_FALSE(sleeping.isFinished());
  clock->advance(500ms);
  sleeping.value();
}

TEST(FallbackClock, SleepsWholeSecondsAndRejectsInvalidIntervals) {
  FallbackClock clock;
  const auto start = std::chrono::steady_clock::now();
  // Truncated toward zero, each of these is no sleep at all.
  for (double under : {0.5, 0.0, -0.0, -0.5, std::nextafter(-1.0, 0.0)}) {
    EXPECT_NO_THROW(clock.sleep(under)) << under;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, 400ms);
  for (double invalid :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(), -1.0, -1.5, 1e30}) {
    EXPECT_THROW(clock.sleep(invalid), std::invalid_argument) << invalid;
  }
}

TEST(CurrentClock, CanBeReplacedAndRestored) {
  auto recording = std::make_shared<testing::RecordingClock>();
  setCurrentClock(recording);
  EXPECT_EQ(currentClock(), recording);
  setCurrentClock(nullptr);
  EXPECT_NE(currentClock(), recording);
}

TEST(TimeoutError, AllValuesAreEqual) { EXPECT_EQ(TimeoutError(), TimeoutError()); }

}  // namespace
}  // namespace voduzazi
