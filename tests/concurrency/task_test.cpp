#include "voduzazi/concurrency/task.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>

#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
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

}  // namespace
}  // namespace voduzazi
