// A timer thread that the machine keeps from running (here: a plain sleep, which counts as
// running) still hands its work over before an advance of the test clock returns, so a test that
// moves the clock sees the timer's work however loaded the machine is.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "tests/realtime/fake_socket.hpp"
#include "tests/support/settle.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/realtime/timeout_timer.hpp"

namespace voduzazi::realtime {
namespace {

using namespace std::chrono_literals;
using testing::SocketHarness;
using testing::textAt;

constexpr auto kSlow = 100ms;

// Names the main executor only after a while, as a timer thread without a processor would.
TimerQueue::ExecutorSource slowly(std::shared_ptr<ManualMainExecutor> main) {
  return [main = std::move(main)]() -> std::shared_ptr<Executor> {
      std::this_thread::sleep_for(kSlow);
    return main;
  };
}

// A test clock whose sleepers get the processor back only a while after they were woken.
class LateWakingClock {
 public:
  using Instant = TestClock::Instant;
  explicit LateWakingClock(std::shared_ptr<TestClock> inner) : inner_(std::move(inner)) {}
  Instant now() const { return inner_->now(); }
  Duration minimumResolution() const { return inner_->minimumResolution(); }
  void sleep(Instant deadline, std::optional<Duration> tolerance = std::nullopt) {
    inner_->sleep(deadline, tolerance);
    std::this_thread::sleep_for(kSlow);
  }

 private:
  std::shared_ptr<TestClock> inner_;
};

TEST(SlowTimerThread, TheHarnessRunsAReconnectThatTheTimerThreadPostsLate) {
  SocketHarness harness;
  harness.timers = std::make_shared<TimerQueue>(harness.anyClock, slowly(harness.main));
  const auto client = harness.openClient();
  harness.transport().fail();
  EXPECT_EQ(harness.advance(10ms), 1u);
  EXPECT_EQ(harness.transportCount(), 2u);
}

TEST(SlowTimerThread, TheHarnessSeesTheHeartbeatsOfATimerThreadThatWakesLate) {
  SocketHarness harness;
  harness.anyClock = std::make_shared<AnyClock>(std::make_shared<LateWakingClock>(harness.clock));
  harness.timers =
      std::make_shared<TimerQueue>(harness.anyClock, [main = harness.main] { return main; });
  const auto client = harness.openClient();
  harness.advance(30s);
  const auto frames = harness.transport().frames();
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(textAt(frames[0], 3), "heartbeat");
  harness.advance(30s);  // unanswered
  EXPECT_EQ(harness.transport().disconnects().size(), 1u);
}

TEST(SlowTimerThread, ATimeOutTimerFiresOnTheAdvanceThatMadeItDue) {
  auto clock = std::make_shared<TestClock>();
  auto main = std::make_shared<ManualMainExecutor>();
  auto queue = std::make_shared<TimerQueue>(std::make_shared<AnyClock>(clock), slowly(main));
  int ran = 0;
  queue->run(1.0, std::make_shared<WorkItem>([&ran] { ++ran; }));
  clock->advance(1s);
  EXPECT_EQ(main->runPending(), 1u);
  EXPECT_EQ(ran, 1);
}

// What the harnesses do when a woken task never waits again: the test fails there, naming the
// wait, instead of going on as if the work had run.
TEST(SlowTimerThread, ATaskThatNeverWaitsAgainFailsTheWaitByName) {
  std::atomic<bool> done{false};
  Task<void> busy([&done] {
    while (!done.load()) std::this_thread::sleep_for(1ms);
  });
  try {
    voduzazi::testing::settle("the busy task", 200ms);
    ADD_FAILURE() << "settled beside a task that never waits";
  } catch (const voduzazi::testing::TasksDidNotSettle& error) {
    EXPECT_THAT(error.what(), ::testing::StartsWith("the busy task: the tasks it woke did not"));
  }
  done = true;
  busy.value();
}

}  // namespace
}  // namespace voduzazi::realtime
