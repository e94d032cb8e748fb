#include "voduzazi/clocks/test_clock.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/issue_reporting/issue_recorder.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace voduzazi {
namespace {

using namespace std::chrono_literals;
using Instant = TestClock::Instant;

// Records (label, now) each time a sleeper wakes.
struct WakeLog {
  LockIsolated<std::vector<std::pair<int, Duration>>> entries{
      std::vector<std::pair<int, Duration>>{}};

  Task<void> sleeper(std::shared_ptr<TestClock> clock, int label, Duration deadline) {
    return Task<void>([this, clock, label, deadline] {
      clock->sleep(Instant{deadline});
      entries.withValue([&](auto& e) { e.emplace_back(label, clock->now().offset); });
    });
  }
  std::vector<std::pair<int, Duration>> value() const { return entries.value(); }
};

TEST(TestClock, PassedDeadlineReturnsAtOnceEqualDeadlineWaitsForAdvance) {
  auto clock = std::make_shared<TestClock>(Instant{5s});
  clock->sleep(Instant{4s});
  WakeLog log;
  auto sleeper = log.sleeper(clock, 1, 5s);
  clock->advance(0s);
  sleeper.value();
  EXPECT_EQ(log.value(), (std::vector<std::pair<int, Duration>>{{1, 5s}}));
}

TEST(TestClock, AdvanceWakesDueSleepersInDeadlineOrder) {
  auto clock = std::make_shared<TestClock>();
  WakeLog log;
  auto three = log.sleeper(clock, 3, 3s);
  auto one = log.sleeper(clock, 1, 1s);
  auto two = log.sleeper(clock, 2, 2s);
  clock->advance(2s);
  EXPECT_EQ(log.value(), (std::vector<std::pair<int, Duration>>{{1, 1s}, {2, 2s}}));
  EXPECT_EQ(clock->now(), Instant{2s});
  EXPECT_THROW(clock->checkSuspension(), SuspensionError);
  clock->advance(1s);
  three.value();
  EXPECT_NO_THROW(clock->checkSuspension());
}

TEST(TestClock, EqualDeadlinesWakeInRegistrationOrder) {
  auto clock = std::make_shared<TestClock>();
  WakeLog log;
  auto first = log.sleeper(clock, 1, 1s);
  this_task::megaYield(5000);  // let the first register before the second
  auto second = log.sleeper(clock, 2, 1s);
  clock->advance(1s);
  EXPECT_EQ(log.value(), (std::vector<std::pair<int, Duration>>{{1, 1s}, {2, 1s}}));
}

TEST(TestClock, AdvanceToThePastKeepsNow) {
  TestClock clock(Instant{3s});
  clock.advanceTo(Instant{1s});
  EXPECT_EQ(clock.now(), Instant{3s});
}

TEST(TestClock, CancelledSleeperRemovesItsSuspension) {
  auto clock = std::make_shared<TestClock>();
  Task<void> sleeper([clock] { clock->sleep(Instant{10s}); });
  this_task::megaYield(5000);
  EXPECT_THROW(clock->checkSuspension(), SuspensionError);
  sleeper.cancel();
  EXPECT_THROW(sleeper.value(), CancellationError);
  EXPECT_NO_THROW(clock->checkSuspension());
}

TEST(TestClock, SleepsRegisteredDuringAnAdvanceWakeInTheSameCall) {
  auto clock = std::make_shared<TestClock>();
  WakeLog log;
  Task<void> chain([clock, &log] {
    clock->sleep(Instant{1s});
    log.entries.withValue([&](auto& e) { e.emplace_back(1, clock->now().offset); });
    clock->sleep(Instant{3s});
    log.entries.withValue([&](auto& e) { e.emplace_back(2, clock->now().offset); });
    clock->sleep(Instant{9s});
  });
  clock->advance(5s);
  EXPECT_EQ(log.value(), (std::vector<std::pair<int, Duration>>{{1, 1s}, {2, 3s}}));
  EXPECT_EQ(clock->now(), Instant{5s});
  chain.cancel();
  EXPECT_THROW(chain.value(), CancellationError);
}

TEST(TestClock, RunAdvancesThroughChainedSleepsAndReportsNothing) {
  testing::IssueRecorder recorder;
  auto clock = std::make_shared<TestClock>();
  Task<void> chain([clock] {
    for (int i = 1; i <= 3; ++i) clock->sleep(clock->now().advanced(1s));
  });
  clock->run(5s);
  chain.value();
  EXPECT_EQ(clock->now(), Instant{3s});
  EXPECT_TRUE(recorder.issues().empty());
}

TEST(TestClock, RunThatTimesOutReportsAndCancelsTheSleepers) {
  testing::IssueRecorder recorder;
  auto clock = std::make_shared<TestClock>();
  Task<void> forever([clock] {
    for (;;) clock->sleep(clock->now().advanced(1s));
  });
  const SourceLocation caller = SourceLocation::current();
  clock->run(100ms, caller);
  // A sleep registered after the timeout fired is not failed by it; cancel to end the task.
  forever.cancel();
  EXPECT_THROW(forever.value(), CancellationError);
  ASSERT_EQ(recorder.messages().size(), 1u);
  EXPECT_EQ(recorder.messages()[0],
            "Expected all sleeps to finish, but some are still suspending after 0.1 seconds.\n"
            "\n"
            "There are sleeps suspending. This could mean you are not advancing the test clock far "
            "enough for your feature to execute its logic, or there could be a bug in your "
            "feature's logic.\n"
            "\n"
            "You can also increase the timeout of 'run' to be greater than 0.1 seconds.");
  EXPECT_EQ(recorder.issues()[0].location, caller);
}

// A woken task that the machine keeps from running for a while (a plain sleep counts as running)
// has still done what it does next by the time the clock's call returns.
constexpr auto kSlow = std::chrono::milliseconds(100);

TEST(TestClockBesideSlowTasks, AnAdvanceWakesTheNextSleepOfASlowTaskInTheSameCall) {
  auto clock = std::make_shared<TestClock>();
  WakeLog log;
  Task<void> chain([clock, &log] {
    clock->sleep(Instant{1s});
    std::this_thread::sleep_for(kSlow);
    clock->sleep(Instant{3s});
    log.entries.withValue([&](auto& e) { e.emplace_back(2, clock->now().offset); });
  });
  clock->advance(5s);
  EXPECT_EQ(log.value(), (std::vector<std::pair<int, Duration>>{{2, 3s}}));
  chain.value();
}

TEST(TestClockBesideSlowTasks, CheckSuspensionSeesTheSleepOfATaskSlowToStart) {
  auto clock = std::make_shared<TestClock>();
  Task<void> slow([clock] {
    std::this_thread::sleep_for(kSlow);
    clock->sleep(Instant{1s});
  });
  EXPECT_THROW(clock->checkSuspension(), SuspensionError);
  slow.cancel();
  EXPECT_THROW(slow.value(), CancellationError);
}

TEST(TestClockBesideSlowTasks, RunAdvancesToTheSleepOfATaskSlowToStart) {
  testing::IssueRecorder recorder;
  auto clock = std::make_shared<TestClock>();
  Task<void> slow([clock] {
    std::this_thread::sleep_for(kSlow);
    clock->sleep(Instant{1s});
  });
  clock->run(5s);
  EXPECT_EQ(clock->now(), Instant{1s});
  EXPECT_TRUE(recorder.issues().empty());
  slow.cancel();  // ends the sleep that the run went past, if any
  EXPECT_NO_THROW(slow.value());
}

}  // namespace
}  // namespace voduzazi
