// ActorIsolated: a value reached one caller at a time, the serial sibling of LockIsolated.
//
//   ActorIsolated<std::vector<int>> log{std::vector<int>{}};
//   log.withValue([](auto& v) { v.push_back(1); });
//   auto copy = log.value();
#pragma once

#include <mutex>

#include "voduzazi/concurrency/detail/guarded_value.hpp"

namespace voduzazi {

// Shared objects: safe; accesses are serialised. Closures must be short and must not call back
// into the same instance (it is not re-entrant).
template <class Value>
class ActorIsolated : public detail::GuardedValue<Value, std::mutex> {
 public:
  using detail::GuardedValue<Value, std::mutex>::GuardedValue;
};

}  // namespace voduzazi
