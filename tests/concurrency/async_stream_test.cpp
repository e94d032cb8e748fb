#include "voduzazi/concurrency/async_stream.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "tests/support/eventually.hpp"
#include "voduzazi/concurrency/stream_adapters.hpp"
#include "voduzazi/concurrency/task.hpp"

namespace voduzazi {
namespace {

using testing::eventually;

struct TerminationLog {
  std::atomic<int> calls{0};
  std::atomic<int> cancelled{0};
  auto handler() {
    return [this](Termination why) {
      ++calls;
      if (why == Termination::cancelled) ++cancelled;
    };
  }
};

TEST(AsyncStream, FinishTerminatesOnceAndBufferedElementsStillArrive) {
  TerminationLog log;
  auto [stream, continuation] = AsyncStream<int>::makeStream();
  continuation.onTermination(log.handler());
  continuation.yield(1);
  continuation.yield(2);
  continuation.finish();
  continuation.finish();
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(log.cancelled, 0);
  EXPECT_TRUE(continuation.yield(3).isTerminated());
  std::vector<int> seen(stream.begin(), stream.end());
  EXPECT_EQ(seen, (std::vector<int>{1, 2}));
  EXPECT_FALSE(stream.next().has_value());
  EXPECT_EQ(log.calls, 1);
}

TEST(AsyncStream, CancelledConsumerGetsNothingAndTerminatesTheChannel) {
  TerminationLog log;
  auto [stream, continuation] = AsyncStream<int>::makeStream();
  continuation.onTermination(log.handler());
  Task<bool> consumer([stream = stream] { return stream.next().has_value(); });
  consumer.cancel();
  EXPECT_FALSE(consumer.value());
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(log.cancelled, 1);
  EXPECT_TRUE(continuation.yield(1).isTerminated());
}

TEST(AsyncStream, CancelledConsumerStopsEvenWithElementsBuffered) {
  TerminationLog log;
  auto [stream, continuation] = AsyncStream<int>::makeStream();
  continuation.onTermination(log.handler());
  continuation.yield(1);
  continuation.yield(2);
  Task<bool> consumer([stream = stream](std::stop_token stop) {
    while (!stop.stop_requested()) std::this_thread::yield();
    return stream.next().has_value();
  });
  consumer.cancel();
  EXPECT_FALSE(consumer.value());
  EXPECT_EQ(log.cancelled, 1);
  EXPECT_TRUE(continuation.yield(3).isTerminated());
  EXPECT_FALSE(stream.next().has_value());
}

TEST(AsyncStream, TerminatesExactlyOnceWhenFinishCancellationAndDestructionRace) {
  for (int round = 0; round < 200; ++round) {
    TerminationLog log;
    auto continuation = [&] {
      auto [stream, c] = AsyncStream<int>::makeStream();
      c.onTermination(log.handler());
      Task<void> consumer([stream = stream] {
        while (stream.next()) {
        }
      });
      Task<void> finisher([c = c] {
        c.yield(1);
        c.finish();
      });
      consumer.cancel();
      finisher.value();
      consumer.value();
      return c;
    }();
    EXPECT_EQ(log.calls, 1) << "round " << round;
    EXPECT_TRUE(continuation.yield(2).isTerminated());
  }
}

TEST(AsyncStream, DestroyingTheStreamTerminatesItAsCancelled) {
  TerminationLog log;
  auto continuation = [&] {
    auto [stream, c] = AsyncStream<int>::makeStream();
    c.onTermination(log.handler());
    return c;
  }();
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(log.cancelled, 1);
  EXPECT_TRUE(continuation.yield(1).isTerminated());
  continuation.finish();
  EXPECT_EQ(log.calls, 1);
}

TEST(AsyncStream, LateHandlerRunsAtOnce) {
  TerminationLog log;
  auto [stream, continuation] = AsyncStream<int>::makeStream();
  continuation.finish();
  continuation.onTermination(log.handler());
  EXPECT_EQ(log.calls, 1);
}

TEST(AsyncStream, BufferingPolicies) {
  auto [oldest, toOldest] = AsyncStream<int>::makeStream(BufferingPolicy::bufferingOldest(2));
  EXPECT_TRUE(toOldest.yield(1).isEnqueued());
  EXPECT_TRUE(toOldest.yield(2).isEnqueued());
  auto dropped = toOldest.yield(3);
  ASSERT_TRUE(dropped.isDropped());
  EXPECT_EQ(std::get<YieldResult<int>::Dropped>(dropped.kind).element, 3);
  EXPECT_EQ(oldest.next(), 1);

  auto [newest, toNewest] = AsyncStream<int>::makeStream(BufferingPolicy::bufferingNewest(2));
  auto first = toNewest.yield(1);
  EXPECT_EQ(std::get<YieldResult<int>::Enqueued>(first.kind).remaining, 1u);
  toNewest.yield(2);
  auto evicted = toNewest.yield(3);
  ASSERT_TRUE(evicted.isDropped());
  EXPECT_EQ(std::get<YieldResult<int>::Dropped>(evicted.kind).element, 1);
  EXPECT_EQ(newest.next(), 2);
  EXPECT_EQ(newest.next(), 3);

  auto [none, toNone] = AsyncStream<int>::makeStream(BufferingPolicy::bufferingNewest(0));
  EXPECT_TRUE(toNone.yield(1).isDropped());
}

TEST(AsyncStream, ZeroLimitStillReachesAWaitingConsumer) {
  for (auto policy : {BufferingPolicy::bufferingNewest(0), BufferingPolicy::bufferingOldest(0)}) {
    auto [stream, continuation] = AsyncStream<int>::makeStream(policy);
    Task<std::optional<int>> consumer([stream = stream] { return stream.next(); });
    this_task::megaYield(5000);  // the consumer now blocks in next()
    auto handed = continuation.yield(7);
    ASSERT_TRUE(handed.isEnqueued());
    EXPECT_EQ(std::get<YieldResult<int>::Enqueued>(handed.kind).remaining, 0u);
    // Nobody waits for this one any more.
    EXPECT_TRUE(continuation.yield(8).isDropped());
    EXPECT_EQ(consumer.value(), 7);
  }
}

TEST(AsyncStream, ConsumerWaitsForAProducerOnAnotherTask) {
  auto [stream, continuation] = AsyncStream<int>::makeStream();
  Task<void> producer([c = continuation] {
    for (int i = 0; i < 100; ++i) c.yield(i);
    c.finish();
  });
  int sum = 0;
  for (int value : stream) sum += value;
  EXPECT_EQ(sum, 4950);
}

TEST(AsyncThrowingStream, ErrorArrivesAfterTheBufferedElementsOnce) {
  auto [stream, continuation] = AsyncThrowingStream<int>::makeStream();
  continuation.yield(1);
  continuation.finish(std::make_exception_ptr(std::runtime_error("late")));
  EXPECT_EQ(stream.next(), 1);
  EXPECT_THROW(stream.next(), std::runtime_error);
  EXPECT_FALSE(stream.next().has_value());
  EXPECT_THROW(
      AsyncThrowingStream<int>::finished(std::make_exception_ptr(std::logic_error("x"))).next(),
      std::logic_error);
  EXPECT_FALSE(AsyncStream<int>::finished().next().has_value());
}

TEST(AsyncStream, NeverEndsOnlyByCancellation) {
  Task<bool> waiter([] { return AsyncStream<int>::never().next().has_value(); });
  waiter.cancel();
  EXPECT_FALSE(waiter.value());
}

// A source that yields 1, 2 and then fails; counts how often its iterator is made.
struct FailingSource {
  std::shared_ptr<std::atomic<int>> iteratorsMade = std::make_shared<std::atomic<int>>(0);
  struct Iterator {
    int produced = 0;
    std::optional<int> next() {
      if (produced == 2) throw std::runtime_error("source failed");
      return ++produced;
    }
  };
  Iterator makeAsyncIterator() const {
    ++*iteratorsMade;
    return {};
  }
};

TEST(StreamAdapters, SourceErrorsEndOrThrowAndTheIteratorIsMadeLazily) {
  FailingSource source;
  AsyncStream<int> quiet = eraseToStream(UncheckedSendable(source));
  EXPECT_EQ(*source.iteratorsMade, 0);
  EXPECT_EQ(std::vector<int>(quiet.begin(), quiet.end()), (std::vector<int>{1, 2}));
  EXPECT_EQ(*source.iteratorsMade, 1);

  AsyncThrowingStream<int> strict = eraseToThrowingStream(source);
  EXPECT_EQ(strict.next(), 1);
  EXPECT_EQ(strict.next(), 2);
  EXPECT_THROW(strict.next(), std::runtime_error);
  EXPECT_FALSE(strict.next().has_value());
}

}  // namespace
}  // namespace voduzazi
