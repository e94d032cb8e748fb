// firstOf() and lastOf(): a copy of the first or last element of a list a test got from a fake,
// a recorder or the code under test. An empty list throws std::out_of_range naming the list, so
// one test fails by name instead of the whole test process crashing.
//
//   const auto heartbeat = lastOf(harness.transport().frames(), "the sent frames");
//   EXPECT_EQ(textAt(heartbeat, 3), "heartbeat");   // an empty list: this test fails, others run
#pragma once

#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

namespace voduzazi::testing {

template <class List>
auto firstOf(const List& list, std::string_view what) {
  if (std::empty(list)) {
    throw std::out_of_range("firstOf(" + std::string(what) + "): the list is empty");
  }
  return *std::begin(list);
}

template <class List>
auto lastOf(const List& list, std::string_view what) {
  if (std::empty(list)) {
    throw std::out_of_range("lastOf(" + std::string(what) + "): the list is empty");
  }
  return *std::prev(std::end(list));
}

}  // namespace voduzazi::testing
