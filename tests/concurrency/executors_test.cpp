#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <vector>

#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/detail/quiescence.hpp"
#include "voduzazi/concurrency/main_executor.hpp"
#include "voduzazi/concurrency/serial_executor.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace voduzazi {
namespace {

using namespace std::chrono_literals;
using testing::eventually;

TEST(SerialExecutor, RunsWorkInPostingOrderOnItsOwnThread) {
  std::vector<int> order;
  std::thread::id worker;
  {
    SerialExecutor queue;
    for (int i = 0; i < 100; ++i) queue.post([&order, i] { order.push_back(i); });
    queue.post([] { throw std::runtime_error("dropped; the queue goes on"); });
    queue.sync([&] { worker = std::this_thread::get_id(); });
    EXPECT_NE(worker, std::this_thread::get_id());
    EXPECT_EQ(order.size(), 100u);
  }
  for (int i = 0; i < 100; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
}

TEST(SerialExecutor, SyncRethrowsAndRunsInlineOnItsOwnThread) {
  SerialExecutor queue;
  EXPECT_THROW(queue.sync([] { throw std::logic_error("x"); }), std::logic_error);
  bool nested = false;
  queue.sync([&] { queue.sync([&] { nested = queue.isCurrent(); }); });
  EXPECT_TRUE(nested);
}

// A task waiting in sync is waiting, as megaYield counts, until its work is done; a cancellation
// meanwhile does not end the wait, since the work still runs with the caller's references.
TEST(SerialExecutor, ATaskInSyncWaitsLikeAJoin) {
  auto& quiescence = detail::Quiescence::shared();
  ASSERT_TRUE(eventually([&] { return quiescence.runnable() == 0; }));
  SerialExecutor queue;
  std::promise<void> release;
  const auto released = release.get_future().share();
  std::atomic<bool> started{false};
  std::atomic<bool> finished{false};
  Task<void> waiter([&] {
    queue.sync([&] {
      started = true;
      released.wait_for(10s);  // the queue's own thread, no task
      finished = true;
    });
  });
  ASSERT_TRUE(eventually([&] { return started.load(); }));
  EXPECT_TRUE(eventually([&] { return quiescence.runnable() == 0; }, 5s));
  waiter.cancel();
  release.set_value();
  EXPECT_NO_THROW(waiter.value());
  EXPECT_TRUE(finished);
}

TEST(SerialExecutor, TheDestructorRunsWhatIsQueued) {
  int ran = 0;
  {
    SerialExecutor queue;
    for (int i = 0; i < 10; ++i) queue.post([&ran] { ++ran; });
  }
  EXPECT_EQ(ran, 10);
}

TEST(SerialExecutor, WorkThatReleasesTheLastReferenceEndsTheQueueSafely) {
  auto executor = std::make_shared<SerialExecutor>();
  std::promise<void> go;
  auto later = std::make_shared<std::promise<void>>();
  // Once the test lets go, the item holds the last reference: dropping it destroys the
  // executor on its own thread, which then finishes what is queued without touching it.
  executor->post([owner = executor, ready = go.get_future().share()]() mutable {
    ready.wait();
    owner.reset();
  });
  executor->post([later] { later->set_value(); });
  executor.reset();
  go.set_value();
  EXPECT_EQ(later->get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
}

TEST(MainExecutor, AnInstalledExecutorReceivesPostsUntilRemoved) {
  auto manual = std::make_shared<ManualMainExecutor>();
  MainExecutor::install(manual);
  int ran = 0;
  MainExecutor::current()->post([&ran] {
    ++ran;
    MainExecutor::current()->post([&ran] { ++ran; });  // posted while draining: runs too
  });
  EXPECT_EQ(manual->pendingCount(), 1u);
  EXPECT_EQ(manual->runPending(), 2u);
  EXPECT_EQ(ran, 2);
  MainExecutor::install(nullptr);
  EXPECT_NE(MainExecutor::current(), manual);
  std::promise<std::thread::id> where;
  MainExecutor::current()->post([&where] { where.set_value(std::this_thread::get_id()); });
  EXPECT_NE(where.get_future().get(), std::this_thread::get_id());
}

}  // namespace
}  // namespace voduzazi
