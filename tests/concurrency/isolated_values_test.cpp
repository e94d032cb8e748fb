#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <cstdint>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <vector>

#include "voduzazi/concurrency/actor_isolated.hpp"
#include "voduzazi/concurrency/any_hashable_sendable.hpp"
#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/concurrency/unchecked_sendable_json.hpp"

namespace voduzazi {
namespace {

TEST(LockIsolated, ThrowingChangeIsStillPublished) {
  LockIsolated<std::vector<int>> values{std::vector<int>{}};
  EXPECT_THROW(values.withValue([](std::vector<int>& v) {
    v.push_back(1);
    throw std::runtime_error("after the change");
  }),
               std::runtime_error);
  EXPECT_EQ(values.value(), std::vector<int>{1});
}

TEST(LockIsolated, ThrowingSetKeepsTheOldValueAndFreesTheLock) {
  LockIsolated<int> value{1};
  EXPECT_THROW(value.setValue([]() -> int { throw std::runtime_error("no"); }), std::runtime_error);
  EXPECT_EQ(Task<int>([&] { return value.value(); }).value(), 1);
  EXPECT_THROW(LockIsolated<int>([]() -> int { throw std::runtime_error("init"); }),
               std::runtime_error);
}

TEST(LockIsolated, ReentrantCallsDoNotDeadlockAndNestedSetsAreOverwritten) {
  LockIsolated<int> value{1};
  value.withValue([&](int& v) {
    EXPECT_EQ(value.value(), 1);
    value.setValue(100);
    v = 2;
  });
  EXPECT_EQ(value.value(), 2);
}

TEST(LockIsolated, MemberAndAccessorReads) {
  struct State {
    int count = 3;
  };
  LockIsolated<State> state{State{}};
  EXPECT_EQ(state.get(&State::count), 3);
  LockIsolated<std::map<std::string, int>> table{std::map<std::string, int>{{"a", 1}}};
  EXPECT_EQ(table.read([](const auto& m) { return m.size(); }), 1u);
}

TEST(ActorIsolated, ThrowingChangeIsKept) {
  ActorIsolated<std::vector<int>> values{std::vector<int>{}};
  EXPECT_THROW(values.withValue([](std::vector<int>& v) {
    v.push_back(5);
    throw std::runtime_error("x");
  }),
               std::runtime_error);
  EXPECT_EQ(values.value(), std::vector<int>{5});
}

TEST(UncheckedSendable, CodesAsTheBareValueAndComparesByValue) {
  UncheckedSendable<int> five(5);
  EXPECT_EQ(boost::json::serialize(boost::json::value_from(five)), "5");
  EXPECT_EQ(boost::json::value_to<UncheckedSendable<int>>(boost::json::parse("5")), five);
  EXPECT_EQ(std::hash<UncheckedSendable<int>>()(five), std::hash<int>()(5));
}

TEST(AnyHashableSendable, EqualityAndHashingByTypeThenValue) {
  AnyHashableSendable five = 5;
  EXPECT_EQ(AnyHashableSendable(AnyHashableSendable(5)), five);
  ASSERT_NE(five.base<std::int64_t>(), nullptr);
  EXPECT_EQ(*five.base<std::int64_t>(), 5);
  EXPECT_NE(AnyHashableSendable(1), AnyHashableSendable("1"));
  EXPECT_NE(AnyHashableSendable(1), AnyHashableSendable(1.0));
  std::unordered_set<AnyHashableSendable> keys{1, "1", 1, true};
  EXPECT_EQ(keys.size(), 3u);
}

// Integers of any type are one value when their numbers are, and only then; a character is a
// character, not its code.
TEST(AnyHashableSendable, IntegersCompareByTheirValuesAndCharactersByTheirOwnType) {
  constexpr auto largest = std::numeric_limits<std::uint64_t>::max();
  EXPECT_NE(AnyHashableSendable(largest), AnyHashableSendable(-1));
  EXPECT_NE(AnyHashableSendable(std::uint64_t{1} << 63),
            AnyHashableSendable(std::numeric_limits<std::int64_t>::min()));
  EXPECT_EQ(AnyHashableSendable(largest), AnyHashableSendable(largest));
  EXPECT_EQ(AnyHashableSendable(largest).description(), "18446744073709551615");
  EXPECT_EQ(AnyHashableSendable(1), AnyHashableSendable(1L));
  EXPECT_EQ(AnyHashableSendable(1), AnyHashableSendable(1U));
  EXPECT_EQ(AnyHashableSendable(std::int8_t{-1}), AnyHashableSendable(-1LL));
  EXPECT_EQ(AnyHashableSendable(std::uint64_t{1} << 62),
            AnyHashableSendable(std::int64_t{1} << 62));
  EXPECT_NE(AnyHashableSendable('a'), AnyHashableSendable(97));
  EXPECT_NE(AnyHashableSendable(u'a'), AnyHashableSendable(97));
  EXPECT_EQ(AnyHashableSendable('a'), AnyHashableSendable('a'));
  EXPECT_EQ(AnyHashableSendable('a').description(), "a");

  const std::unordered_set<AnyHashableSendable> keys{largest, -1, 'a', 97, 1, 1L, 1U, 1ULL};
  EXPECT_EQ(keys.size(), 5u);
  const auto hash = std::hash<AnyHashableSendable>();
  EXPECT_EQ(hash(AnyHashableSendable(1)), hash(AnyHashableSendable(1ULL)));
  EXPECT_EQ(hash(AnyHashableSendable(std::int16_t{-7})), hash(AnyHashableSendable(-7LL)));
}

TEST(AnyHashableSendable, Descriptions) {
  EXPECT_EQ(AnyHashableSendable("a").debugDescription(), "AnyHashableSendable(\"a\")");
  EXPECT_EQ(AnyHashableSendable("a").description(), "a");
  EXPECT_EQ(AnyHashableSendable(42).description(), "42");
  EXPECT_EQ(AnyHashableSendable(true).debugDescription(), "AnyHashableSendable(true)");
  EXPECT_EQ(AnyHashableSendable("it's\n").debugDescription(), "AnyHashableSendable(\"it\\'s\\n\")");
  EXPECT_EQ(AnyHashableSendable(1.0).description(), "1.0");
}

}  // namespace
}  // namespace voduzazi
