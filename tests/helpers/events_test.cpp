#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "test_support.hpp"
#include "tests/support/checked_list.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/helpers/async_value_subject.hpp"
#include "voduzazi/helpers/event_emitter.hpp"

namespace voduzazi {
namespace {

using testing::eventually;
using testing::lastOf;

struct Received {
  LockIsolated<std::vector<int>> values{std::vector<int>{}};
  std::function<void(const int&)> listener() {
    return [this](const int& v) { values.withValue([&](auto& all) { all.push_back(v); }); };
  }
  std::vector<int> value() const { return values.value(); }
};

TEST(EventEmitter, ReplaysTheLastEventOnlyWhenAskedTo) {
  EventEmitter<int> replaying(7, true);
  Received a;
  auto tokenA = replaying.attach(a.listener());
  EXPECT_EQ(a.value(), std::vector<int>{7});

  EventEmitter<int> quiet(7, false);
  Received b;
  auto tokenB = quiet.attach(b.listener());
  EXPECT_TRUE(b.value().empty());
  quiet.emit(8);
  EXPECT_EQ(b.value(), std::vector<int>{8});
}

TEST(EventEmitter, DeliversInAttachOrderAndToTargetsOnly) {
  EventEmitter<int> emitter(0, false);
  std::vector<std::string> order;
  auto a = emitter.attach([&](const int&) { order.push_back("A"); });
  auto b = emitter.attach([&](const int&) { order.push_back("B"); });
  emitter.emit(1);
  EXPECT_EQ(order, (std::vector<std::string>{"A", "B"}));

  emitter.emit(2, *b);
  EXPECT_EQ(lastOf(order, "the deliveries"), "B");
  EXPECT_EQ(order.size(), 3u);

  ObservationToken stranger;
  emitter.emit(3, stranger);
  EXPECT_EQ(order.size(), 3u);
  EXPECT_EQ(emitter.lastEvent(), 3);
}

TEST(EventEmitter, ReleasingOrCancellingATokenRemovesItsListener) {
  EventEmitter<int> emitter(0, false);
  Received dropped, cancelled;
  auto token = emitter.attach(dropped.listener());
  token.reset();
  auto other = emitter.attach(cancelled.listener());
  other->cancel();
  other->cancel();
  EXPECT_TRUE(other->isCancelled());
  emitter.emit(1);
  EXPECT_TRUE(dropped.value().empty());
  EXPECT_TRUE(cancelled.value().empty());
}

TEST(EventEmitter, TokensMayOutliveTheirEmitter) {
  auto emitter = std::make_unique<EventEmitter<int>>(0, false);
  auto token = emitter->attach([](const int&) {});
  emitter.reset();
  EXPECT_NO_THROW(token->cancel());
}

TEST(EventEmitter, ListenersMayCancelThemselvesWhileCalled) {
  EventEmitter<int> emitter(0, false);
  std::shared_ptr<ObservationToken> token;
  int calls = 0;
  token = emitter.attach([&](const int&) {
    ++calls;
    token->cancel();
  });
  emitter.emit(1);
  emitter.emit(2);
  EXPECT_EQ(calls, 1);
}

TEST(EventEmitter, StreamReceivesTheEventsEmittedWhileItLives) {
  EventEmitter<std::optional<int>> emitter(std::nullopt, false);
  emitter.emit(0);
  AsyncStream<std::optional<int>> stream = emitter.stream();
  emitter.emit(1);
  emitter.emit(2);
  EXPECT_EQ(stream.next(), std::optional<std::optional<int>>(1));
  EXPECT_EQ(stream.next(), std::optional<std::optional<int>>(2));
}

TEST(ObservationToken, RunsItsActionOnceEvenWhenTheActionCancelsAgain) {
  auto token = std::make_shared<ObservationToken>();
  int runs = 0;
  token->setOnCancel([&] {
    ++runs;
    token->cancel();
  });
  token->cancel();
  EXPECT_EQ(runs, 1);

  int released = 0;
  std::vector<std::shared_ptr<ObservationToken>> bag;
  std::make_shared<ObservationToken>([&] { ++released; })->store(bag);
  EXPECT_EQ(released, 0);
  bag.clear();
  EXPECT_EQ(released, 1);
}

TEST(AsyncValueSubject, NewStreamsStartWithTheCurrentValue) {
  AsyncValueSubject<int> subject(1);
  auto early = subject.values();
  subject.yield(2);
  auto late = subject.values();
  EXPECT_EQ(early.next(), 1);
  EXPECT_EQ(early.next(), 2);
  EXPECT_EQ(late.next(), 2);
  EXPECT_EQ(subject.value(), 2);
}

TEST(AsyncValueSubject, FinishEndsStreamsAndFreezesTheValue) {
  AsyncValueSubject<int> subject(1);
  auto stream = subject.values();
  subject.finish();
  subject.yield(3);
  EXPECT_EQ(subject.value(), 1);
  EXPECT_EQ(stream.next(), 1);
  EXPECT_EQ(stream.next(), std::nullopt);

  auto afterFinish = subject.values();
  EXPECT_EQ(afterFinish.next(), 1);
  EXPECT_EQ(afterFinish.next(), std::nullopt);
}

TEST(AsyncValueSubject, BufferingNewestKeepsTheLatestForASlowConsumer) {
  AsyncValueSubject<int> subject(0, BufferingPolicy::bufferingNewest(1));
  auto stream = subject.values();
  subject.yield(1);
  subject.yield(2);
  subject.yield(3);
  EXPECT_EQ(stream.next(), 3);
}

TEST(AsyncValueSubject, OnChangeStartsWithTheCurrentValueAndStopsWhenCancelled) {
  AsyncValueSubject<int> subject(5);
  Received seen;
  Task<void> watcher = subject.onChange(seen.listener());
  subject.yield(6);
  ASSERT_TRUE(eventually([&] { return seen.value().size() == 2; }));
  EXPECT_EQ(seen.value(), (std::vector<int>{5, 6}));
  watcher.cancel();
  watcher.value();
  subject.yield(7);
  EXPECT_EQ(seen.value(), (std::vector<int>{5, 6}));
}

TEST(AsyncValueSubject, DestroyingTheSubjectEndsItsStreams) {
  auto subject = std::make_unique<AsyncValueSubject<int>>(1);
  auto stream = subject->values();
  subject.reset();
  EXPECT_EQ(stream.next(), 1);
  EXPECT_EQ(stream.next(), std::nullopt);
}

}  // namespace
}  // namespace voduzazi
