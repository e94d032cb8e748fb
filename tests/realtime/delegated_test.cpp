#include "voduzazi/realtime/delegated.hpp"

#include <gtest/gtest.h>

#include <string>

namespace voduzazi::realtime {
namespace {

struct Owner {
  int calls = 0;
  int base = 10;
};

TEST(Delegated, WeakDelegateYieldsNothingOnceTheOwnerIsGone) {
  auto owner = std::make_shared<Owner>();
  Delegated<int, int> box;
  box.delegate(owner, [](Owner& o, int input) {
    ++o.calls;
    return o.base + input;
  });
  EXPECT_EQ(box.call(5), 15);
  auto copy = box;  // copies share the stored function
  owner.reset();
  EXPECT_EQ(box.call(5), std::nullopt);
  EXPECT_EQ(copy.call(5), std::nullopt);
  EXPECT_TRUE(box.isDelegateSet());
}

TEST(Delegated, StrongDelegateKeepsTheOwnerAlive) {
  auto owner = std::make_shared<Owner>();
  std::weak_ptr<Owner> watch = owner;
  Delegated<void, std::string> box;
  box.stronglyDelegate(owner, [](Owner& o) { return std::to_string(++o.calls); });
  owner.reset();
  EXPECT_FALSE(watch.expired());
  EXPECT_EQ(box.call(), "1");
  box.removeDelegate();
  EXPECT_TRUE(watch.expired());
  EXPECT_FALSE(box.isDelegateSet());
  EXPECT_EQ(box.call(), std::nullopt);
}

TEST(Delegated, VoidBoxesRunOrDoNothing) {
  int ran = 0;
  Delegated<void, void> empty;
  empty.call();  // nothing stored: no effect
  Delegated<void, void> manual;
  manual.manuallyDelegate([&ran] { ++ran; });
  manual.call();
  Delegated<int, void> withInput;
  withInput.manuallyDelegate([&ran](int by) { ran += by; });
  withInput.call(5);
  EXPECT_EQ(ran, 6);

  auto owner = std::make_shared<Owner>();
  Delegated<void, void> weak;
  weak.delegate(owner, [](Owner& o) { ++o.calls; });
  weak.call();
  EXPECT_EQ(owner->calls, 1);
  // Storing again replaces and releases the earlier function.
  weak.manuallyDelegate([&ran] { ran = 100; });
  weak.call();
  EXPECT_EQ(owner->calls, 1);
  EXPECT_EQ(ran, 100);
}

}  // namespace
}  // namespace voduzazi::realtime
