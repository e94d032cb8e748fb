#include "voduzazi/concurrency/task.hpp"

#include <gtest/gtest.h>
#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/detail/quiescence.hpp"
#include "voduzazi/concurrency/detail/wait_queue.hpp"
#include "voduzazi/concurrency/task_group.hpp"
#include "voduzazi/concurrency/task_local.hpp"

namespace voduzazi {
namespace {

using namespace std::chrono_literals;
using testing::eventually;

const TaskLocal<std::string> requestID{"none"};

TEST(Task, ValueReturnsResultOrRethrows) {
  Task<int> answer([] { return 42; });
  EXPECT_EQ(answer.value(), 42);
  Task<int> failing([]() -> int { throw std::runtime_error("boom"); });
  EXPECT_THROW(failing.value(), std::runtime_error);
  EXPECT_TRUE(failing.isFinished());
}

TEST(Task, CancellationReachesASleepingTask) {
  Task<void> sleeper([] { this_task::sleepFor(1h); });
  sleeper.cancel();
  EXPECT_THROW(sleeper.value(), CancellationError);
  EXPECT_TRUE(sleeper.isCancelled());
}

TEST(Task, BodyCanTakeItsStopToken) {
  Task<bool> task([](std::stop_token stop) {
    while (!stop.stop_requested()) std::this_thread::yield();
    return true;
  });
  task.cancel();
  EXPECT_TRUE(task.value());
}

TEST(Task, DroppingTheHandleDoesNotCancel) {
  auto [gate, open] = AsyncStream<int>::makeStream();
  auto finished = std::make_shared<std::atomic<bool>>(false);
  {
    Task<void> task([gate = gate, finished] {
      gate.next();
      finished->store(!this_task::isCancelled());
    });
  }
  open.yield(1);
  EXPECT_TRUE(eventually([&] { return finished->load(); }));
}

TEST(Task, ProcessExitWaitsForFinishedTasksToTearDown) {
  // Each death test runs in a fresh process, where the task below is the first one.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        // Set when the task thread's own storage is released, after its body has ended.
        static std::atomic<bool> tornDown{false};
        static pthread_key_t key;
        pthread_key_create(&key, [](void*) { tornDown = true; });
        // Registered before the first task, so it runs after the runtime's own exit step.
        std::atexit([] { std::fputs(tornDown ? "torn down" : "still running", stderr); });
        Task<void>([] { pthread_setspecific(key, &key); }).value();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "torn down");
}

TEST(Task, NeverThrowsOnceCancelled) {
  Task<void> task([] { this_task::never(); });
  task.cancel();
  EXPECT_THROW(task.value(), CancellationError);
}

TEST(Task, CancellableValueForwardsCancellation) {
  Task<void> inner([] { this_task::sleepFor(1h); });
  Task<void> outer([inner] { inner.cancellableValue(); });
  outer.cancel();
  EXPECT_THROW(outer.value(), CancellationError);
  EXPECT_TRUE(inner.isCancelled());
}

TEST(TaskLocal, ChildTasksInheritDetachedTasksDoNot) {
  TaskLocal<std::string>::Binding binding(requestID, "r-1");
  EXPECT_EQ(Task<std::string>([] { return requestID.get(); }).value(), "r-1");
  EXPECT_EQ(Task<std::string>::detached([] { return requestID.get(); }).value(), "none");
  auto grandchild =
      Task<std::string>([] { return Task<std::string>([] { return requestID.get(); }).value(); });
  EXPECT_EQ(grandchild.value(), "r-1");
}

TEST(TaskLocal, BindingsNestAndRestore) {
  EXPECT_EQ(requestID.get(), "none");
  requestID.withValue("outer", [] {
    EXPECT_EQ(requestID.get(), "outer");
    requestID.withValue("inner", [] { EXPECT_EQ(requestID.get(), "inner"); });
    EXPECT_EQ(requestID.get(), "outer");
  });
  EXPECT_EQ(requestID.get(), "none");
}

TEST(TaskGroup, ReportsTheFirstToFinishAndCancelsTheRestOnExit) {
  auto slowSawCancel = std::make_shared<std::atomic<bool>>(false);
  {
    TaskGroup<int> group;
    group.addTask([slowSawCancel] {
      try {
        this_task::sleepFor(1h);
      } catch (const CancellationError&) {
        slowSawCancel->store(true);
        throw;
      }
      return 1;
    });
    group.addTask([] { return 2; });
    EXPECT_EQ(group.next(), 2);
  }
  // The destructor returned, so the slow child has ended, through cancellation.
  EXPECT_TRUE(slowSawCancel->load());
}

TEST(TaskGroup, LeavingTheScopeWaitsForLateChildrenAndReleasesTheirResults) {
  // Records whether a result was destroyed by the time the group's scope ended.
  struct Probe {
    std::shared_ptr<std::atomic<bool>> destroyed;
    ~Probe() {
      if (destroyed) destroyed->store(true);
    }
  };
  for (int round = 0; round < 50; ++round) {
    auto capture = std::make_shared<int>(0);
    std::weak_ptr<int> captured = capture;
    auto destroyed = std::make_shared<std::atomic<bool>>(false);
    {
      TaskGroup<std::shared_ptr<Probe>> group;
      group.addTask([capture = std::move(capture), destroyed](std::stop_token stop) {
        // Ignores cancellation until it arrives, then still works a little.
        while (!stop.stop_requested()) std::this_thread::yield();
        auto probe = std::make_shared<Probe>();
        probe->destroyed = destroyed;
        return probe;
      });
    }
    EXPECT_TRUE(captured.expired()) << "round " << round;
    EXPECT_TRUE(destroyed->load()) << "round " << round;
  }
}

TEST(TaskGroup, ChildErrorsAndEmptiness) {
  TaskGroup<void> group;
  EXPECT_FALSE(group.next().has_value());
  group.addTask([] { throw std::runtime_error("child"); });
  EXPECT_THROW(group.next(), std::runtime_error);
  EXPECT_TRUE(group.isEmpty());
}

TEST(TaskGroup, CancellingTheParentTaskCancelsChildren) {
  Task<bool> parent([] {
    TaskGroup<void> group;
    group.addTask([] { this_task::sleepFor(1h); });
    try {
      group.next();
    } catch (const CancellationError&) {
      return true;
    }
    return false;
  });
  parent.cancel();
  EXPECT_TRUE(parent.value());
}

TEST(TaskGroup, ChildrenInheritTaskLocals) {
  TaskLocal<std::string>::Binding binding(requestID, "group");
  TaskGroup<std::string> group;
  group.addTask([] { return requestID.get(); });
  EXPECT_EQ(group.next(), "group");
}

TEST(MegaYield, ReturnsOnceOtherTasksWait) {
  auto [gate, open] = AsyncStream<int>::makeStream();
  auto steps = std::make_shared<std::atomic<int>>(0);
  Task<void> worker([gate = gate, steps] {
    for (int i = 0; i < 3; ++i) {
      for (int spin = 0; spin < 10000; ++spin) steps->fetch_add(1);
      gate.next();
    }
  });
  // Generous round count: only quiescence, not the count, may end these yields.
  this_task::megaYield(5000);
  EXPECT_EQ(steps->load(), 10000);
  open.yield(1);
  this_task::megaYield(5000);
  EXPECT_EQ(steps->load(), 20000);
  worker.cancel();
  worker.value();
}

TEST(MegaYield, RunnableCountSettlesAfterWakesCancellationsAndTimeouts) {
  auto& quiescence = detail::Quiescence::shared();
  ASSERT_TRUE(eventually([&] { return quiescence.runnable() == 0; }));
  for (int round = 0; round < 20; ++round) {
    auto [stream, continuation] = AsyncStream<int>::makeStream();
    Task<void> reader([stream = stream] {
      while (stream.next()) {
      }
    });
    Task<void> timed([] { this_task::sleepFor(1ms); });
    Task<void> cancelled([] { this_task::sleepFor(1h); });
    Task<void> joiner([timed] { timed.value(); });
    for (int i = 0; i < 10; ++i) continuation.yield(i);
    cancelled.cancel();
    reader.cancel();
    EXPECT_THROW(cancelled.value(), CancellationError);
    reader.value();
    joiner.value();
  }
  EXPECT_TRUE(eventually([&] { return quiescence.runnable() == 0; }));
}

// A stop request that comes as a task starts to wait: from the moment request_stop() returns the
// task counts as runnable until it waits again, or megaYield may take it for idle before it has
// run (a test clock's advance then finds its timers not yet posted).
TEST(WaitQueue, AStopRequestCountsTheWaiterInBeforeItReturns) {
  auto& quiescence = detail::Quiescence::shared();
  ASSERT_TRUE(eventually([&] { return quiescence.runnable() == 0; }));
  constexpr int kRounds = 20000;
  std::vector<std::stop_source> stops(kRounds);
  std::atomic<int> waiting{-1};
  std::atomic<int> checked{-1};
  const auto spinUntil = [](const std::atomic<int>& value, int wanted) {
    while (value.load() != wanted) std::this_thread::yield();
  };
  Task<void> waiter([&] {
    std::mutex mutex;
    detail::WaitQueue queue;
    for (int round = 0; round < kRounds; ++round) {
      std::unique_lock lock(mutex);
      waiting = round;
      queue.wait(lock, stops[round].get_token(), [] { return false; });
      lock.unlock();
      spinUntil(checked, round);  // not a runtime wait: still runnable
    }
  });
  int countedIdle = 0;
  for (int round = 0; round < kRounds; ++round) {
    spinUntil(waiting, round);
    stops[round].request_stop();
    if (quiescence.runnable() < 1) ++countedIdle;
    checked = round;
  }
  waiter.value();
  EXPECT_EQ(countedIdle, 0) << "of " << kRounds << " stop requests";
}

TEST(WaitQueue, AThrowingConditionLeavesNoWaiterBehind) {
  auto& quiescence = detail::Quiescence::shared();
  ASSERT_TRUE(eventually([&] { return quiescence.runnable() == 0; }));
  Task<bool> task([] {
    std::mutex mutex;
    detail::WaitQueue queue;
    std::unique_lock lock(mutex);
    int checks = 0;
    try {
      queue.wait(lock, this_task::stopToken(), [&]() -> bool {
        if (++checks == 2) throw std::runtime_error("condition failed");
        return false;
      });
    } catch (const std::runtime_error&) {
    }
    return queue.hasWaiters();
  });
  this_task::megaYield(5000);  // the task now waits; its cancellation checks again
  task.cancel();
  EXPECT_FALSE(task.value());
  EXPECT_TRUE(eventually([&] { return quiescence.runnable() == 0; }));
}

}  // namespace
}  // namespace voduzazi
