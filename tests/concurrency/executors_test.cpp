#include <gtest/gtest.h>

#include <future>
#include <stdexcept>
#include <vector>

#include "voduzazi/concurrency/main_executor.hpp"
#include "voduzazi/concurrency/serial_executor.hpp"

namespace voduzazi {
namespace {

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
