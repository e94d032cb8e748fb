#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "tests/support/checked_list.hpp"
#include "tests/support/eventually.hpp"
#include "tests/support/settle.hpp"
#include "voduzazi/clocks/test_clock.hpp"
#include "voduzazi/concurrency/main_executor.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/realtime/heartbeat_timer.hpp"
#include "voduzazi/realtime/timeout_timer.hpp"

namespace voduzazi::realtime {
namespace {

using namespace std::chrono_literals;
using voduzazi::testing::lastOf;

// A test clock and a main executor drained by hand: time moves and work runs only when told.
struct Timing {
  std::shared_ptr<TestClock> clock = std::make_shared<TestClock>();
  std::shared_ptr<AnyClock> anyClock = std::make_shared<AnyClock>(clock);
  std::shared_ptr<ManualMainExecutor> main = std::make_shared<ManualMainExecutor>();
  std::shared_ptr<TimerQueue> queue =
      std::make_shared<TimerQueue>(anyClock, [main = main] { return main; });

  // Moves time on, waits until the queue has handed over what became due, and runs it; returns
  // how many items ran.
  std::size_t advance(Duration by) {
    clock->advance(by);
    testing::settle("Timing::advance(" + describeDuration(by) + ")");
    return main->runPending();
  }
};

// The owner of a timer, as the socket client is: it keeps the delays and counts the calls.
struct Owner {
  std::vector<double> delays{1.0, 2.0, 5.0};
  std::vector<int> asked;
  int fired = 0;
};

std::shared_ptr<TimeoutTimer> timerFor(const std::shared_ptr<Owner>& owner, Timing& timing) {
  auto timer = TimeoutTimer::make(timing.queue);
  timer->callback.delegate(owner, [](Owner& o) { ++o.fired; });
  timer->timerCalculation.delegate(owner, [](Owner& o, int tries) {
    o.asked.push_back(tries);
    return o.delays.at(static_cast<std::size_t>(std::min<int>(tries, 3) - 1));
  });
  return timer;
}

TEST(TimerQueue, RoundsDelaysHalfAwayFromZeroToMilliseconds) {
  EXPECT_EQ(TimerQueue::delayFor(0.0105), 11ms);
  EXPECT_EQ(TimerQueue::delayFor(0.0025), 3ms);
  EXPECT_EQ(TimerQueue::delayFor(0.01), 10ms);
  EXPECT_EQ(TimerQueue::delayFor(0.0004), 0ms);
  EXPECT_EQ(TimerQueue::delayFor(-1.0), 0ms);
  EXPECT_EQ(TimerQueue::delayFor(std::nan("")), 0ms);
  EXPECT_EQ(TimerQueue::delayFor(1e300), std::chrono::milliseconds::max());
}

TEST(TimerQueue, RunsAnItemOnTheMainExecutorAtItsDeadlineUnlessCancelled) {
  Timing timing;
  int ran = 0;
  auto kept = std::make_shared<WorkItem>([&ran] { ++ran; });
  auto cancelled = std::make_shared<WorkItem>([&ran] { ran += 100; });
  timing.queue->run(0.5, kept);
  timing.queue->run(0.5, cancelled);
  EXPECT_EQ(timing.advance(499ms), 0u);
  cancelled->cancel();
  timing.advance(1ms);
  EXPECT_EQ(ran, 1);
  // A delay that rounds to nothing is posted at once.
  timing.queue->run(0.0004, std::make_shared<WorkItem>([&ran] { ran += 10; }));
  EXPECT_EQ(timing.main->runPending(), 1u);
  EXPECT_EQ(ran, 11);
}

// Drops what is posted to it, as an executor that is shutting down may.
class DroppingExecutor final : public Executor {
 public:
  void post(std::function<void()>) override {}
};

// A body's capture that cancels another item of the same queue when it is destroyed, as a push
// hook holding the last reference to a client would.
struct CancelsOnRelease {
  std::shared_ptr<WorkItem> other;
  std::shared_ptr<std::atomic<bool>> released;
  ~CancelsOnRelease() {
    other->cancel();
    *released = true;
  }
};

std::shared_ptr<WorkItem> cancellingItem(std::shared_ptr<WorkItem> other,
                                         std::shared_ptr<std::atomic<bool>> released) {
  auto guard = std::make_shared<CancelsOnRelease>(std::move(other), std::move(released));
  return std::make_shared<WorkItem>([guard] {});
}

TEST(TimerQueue, ReleasesTheBodiesOfItemsItDropsOutsideItsLock) {
  auto clock = std::make_shared<TestClock>();
  auto queue = std::make_shared<TimerQueue>(std::make_shared<AnyClock>(clock),
                                            [] { return std::make_shared<DroppingExecutor>(); });
  // On the timer thread: the due item's work is dropped, so the queue lets go of its body last.
  auto later = std::make_shared<WorkItem>([] {});
  queue->run(10.0, later);
  auto releasedByThread = std::make_shared<std::atomic<bool>>(false);
  queue->run(1.0, cancellingItem(later, releasedByThread));
  clock->advance(1s);
  const bool threadGoesOn = testing::eventually([&] { return releasedByThread->load(); });
  if (!threadGoesOn) {
    // The stuck thread holds the queue's lock for good: leave the queue be rather than hang here.
    new std::shared_ptr<TimerQueue>(std::move(queue));
    FAIL() << "the timer thread is stuck releasing a body";
  }
  EXPECT_TRUE(later->isCancelled());
  // On the destroying thread: the items still pending are dropped with the queue.
  auto pending = std::make_shared<WorkItem>([] {});
  queue->run(20.0, pending);
  auto releasedByEnd = std::make_shared<std::atomic<bool>>(false);
  queue->run(30.0, cancellingItem(pending, releasedByEnd));
  // A task, so that a stuck destructor fails the test instead of hanging it.
  Task<void> ending([queue = std::move(queue)]() mutable { queue.reset(); });
  EXPECT_TRUE(testing::eventually([&] { return ending.isFinished(); }))
      << "destroying the queue is stuck releasing a body";
  EXPECT_TRUE(releasedByEnd->load());
}

TEST(TimeoutTimer, WaitsTheOwnersDelayForEachAttemptAndCountsRuns) {
  Timing timing;
  auto owner = std::make_shared<Owner>();
  auto timer = timerFor(owner, timing);
  const std::vector<Duration> waits{1s, 2s, 5s};
  for (std::size_t attempt = 0; attempt < waits.size(); ++attempt) {
    timer->schedule();
    timing.advance(waits[attempt] - 1ms);
    EXPECT_EQ(owner->fired, static_cast<int>(attempt)) << "early run of attempt " << attempt + 1;
    timing.advance(1ms);
    EXPECT_EQ(owner->fired, static_cast<int>(attempt) + 1);
  }
  EXPECT_EQ(timer->tries(), 3);
  EXPECT_EQ(owner->asked, (std::vector<int>{1, 2, 3}));
  timer->reset();
  EXPECT_EQ(timer->tries(), 0);
  timer->schedule();
  EXPECT_EQ(lastOf(owner->asked, "the attempts asked for"), 1);
}

TEST(TimeoutTimer, SchedulingTwiceLeavesOneRunForTheSameAttempt) {
  Timing timing;
  auto owner = std::make_shared<Owner>();
  auto timer = timerFor(owner, timing);
  timer->schedule();
  timing.advance(500ms);
  timer->schedule();  // replaces the first: a full second from now
  timing.advance(600ms);
  EXPECT_EQ(owner->fired, 0);
  timing.advance(400ms);
  EXPECT_EQ(owner->fired, 1);
  timing.advance(10s);
  EXPECT_EQ(owner->fired, 1);
  EXPECT_EQ(owner->asked, (std::vector<int>{1, 1}));
}

TEST(TimeoutTimer, ResetOrAMissingScheduleCancelsThePendingRun) {
  Timing timing;
  auto owner = std::make_shared<Owner>();
  auto timer = timerFor(owner, timing);
  timer->schedule();
  timing.advance(900ms);
  timer->reset();
  timing.advance(5s);
  EXPECT_EQ(owner->fired, 0);

  timer->schedule();
  timer->timerCalculation.removeDelegate();
  timer->schedule();  // cancels the pending run and plans nothing
  timing.advance(10s);
  EXPECT_EQ(owner->fired, 0);
  EXPECT_EQ(timer->tries(), 0);
}

TEST(TimeoutTimer, AGoneOwnerStopsScheduling) {
  Timing timing;
  auto owner = std::make_shared<Owner>();
  auto timer = timerFor(owner, timing);
  owner.reset();
  timer->schedule();
  timing.advance(10s);
  EXPECT_EQ(timer->tries(), 0);
}

TEST(HeartbeatTimer, TicksOnePeriodAfterStartAndThenEveryPeriod) {
  Timing timing;
  HeartbeatTimer timer(30.0, 10ms, timing.main, timing.queue);
  int ticks = 0;
  timer.start([&ticks] { ++ticks; });
  EXPECT_EQ(timing.advance(29s), 0u);
  timing.advance(1s);
  EXPECT_EQ(ticks, 1);
  timing.advance(30s);
  timing.advance(30s);
  EXPECT_EQ(ticks, 3);
  timer.stop();
  timing.advance(60s);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(timer.isRunning());
}

TEST(HeartbeatTimer, RestartingLeavesOnlyTheNewHandlerRunning) {
  Timing timing;
  HeartbeatTimer timer(30.0, 10ms, timing.main, timing.queue);
  HeartbeatTimer never(30.0, 10ms, timing.main, timing.queue);
  never.stop();  // never started: nothing happens
  int first = 0;
  int second = 0;
  timer.start([&first] { ++first; });
  timing.advance(20s);
  timer.start([&second] { ++second; });
  timing.advance(10s);  // the first timer's deadline: it is gone
  EXPECT_EQ(first, 0);
  EXPECT_EQ(second, 0);
  timing.advance(20s);
  EXPECT_EQ(second, 1);
  EXPECT_EQ(first, 0);
}

TEST(HeartbeatTimer, AStoppedTimersQueuedTickDoesNothing) {
  Timing timing;
  HeartbeatTimer timer(1.0, 10ms, timing.main, timing.queue);
  int ticks = 0;
  timer.start([&ticks] { ++ticks; });
  timing.clock->advance(1s);  // the tick is posted but not run yet
  testing::settle("the tick after 1 s");
  timer.stop();
  timing.main->runPending();
  EXPECT_EQ(ticks, 0);
}

TEST(HeartbeatTimer, APeriodOfNothingTicksEachMillisecondAndAHugeOneNever) {
  Timing timing;
  HeartbeatTimer fast(0.0, 10ms, timing.main, timing.queue);
  HeartbeatTimer never(1e300, 10ms, timing.main, timing.queue);
  int fastTicks = 0;
  int neverTicks = 0;
  fast.start([&fastTicks] { ++fastTicks; });
  never.start([&neverTicks] { ++neverTicks; });
  for (int ms = 0; ms < 3; ++ms) timing.advance(1ms);
  EXPECT_EQ(fastTicks, 3);
  fast.stop();
  timing.advance(24h);
  EXPECT_EQ(fastTicks, 3);
  EXPECT_EQ(neverTicks, 0);
  EXPECT_TRUE(never.isRunning());
}

TEST(HeartbeatTimer, EqualityIsIdentity) {
  HeartbeatTimer a(30.0);
  HeartbeatTimer b(30.0);
  EXPECT_TRUE(a == a);
  EXPECT_FALSE(a == b);
  EXPECT_EQ(a.uuid().size(), 36u);
}

}  // namespace
}  // namespace voduzazi::realtime
