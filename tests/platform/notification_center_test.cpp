#include "voduzazi/platform/notification_center.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace voduzazi {
namespace {

TEST(NotificationCenter, MatchesByNameAndObject) {
  NotificationCenter center;
  int sender = 0;
  int other = 0;
  std::vector<std::string> seen;
  auto byName = center.addObserver(
      "a", nullptr, [&](const Notification& n) { seen.push_back("name:" + n.name); });
  auto byObject = center.addObserver(
      "a", &sender, [&](const Notification& n) { seen.push_back("object:" + n.name); });
  auto everything = center.addObserver(
      std::nullopt, nullptr, [&](const Notification& n) { seen.push_back("all:" + n.name); });
  center.post({"a", &other, {}});
  center.post({"a", &sender, {{"key", 7}}});
  center.post({"b", nullptr, {}});
  EXPECT_EQ(seen,
            (std::vector<std::string>{"name:a", "all:a", "name:a", "object:a", "all:a", "all:b"}));
}

TEST(NotificationCenter, RemovedObserversAreNotCalledEvenMidDelivery) {
  NotificationCenter center;
  std::vector<std::string> seen;
  NotificationCenter::ObserverToken second;
  auto first = center.addObserver("n", nullptr, [&](const Notification&) {
    seen.push_back("first");
    center.removeObserver(second);        // removed before its turn in this very post
    center.post({"other", nullptr, {}});  // observers may post from inside a delivery
  });
  second = center.addObserver("n", nullptr, [&](const Notification&) { seen.push_back("second"); });
  center.post({"n", nullptr, {}});
  EXPECT_EQ(seen, std::vector<std::string>{"first"});

  first.reset();  // releasing the token removes the observer
  center.post({"n", nullptr, {}});
  EXPECT_EQ(seen.size(), 1u);
}

TEST(NotificationCenter, PostsFromManyThreadsWhileObserversComeAndGo) {
  NotificationCenter center;
  std::atomic<int> calls{0};
  auto kept = center.addObserver("n", nullptr, [&](const Notification&) { ++calls; });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        auto transient = center.addObserver("n", nullptr, [](const Notification&) {});
        center.post({"n", nullptr, {}});
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(calls.load(), 800);
}

}  // namespace
}  // namespace voduzazi
