// LockIsolated: one value shared between threads, guarded by its own recursive mutex. Reads return
// copies; changes run a short closure on a copy that is written back, even when the closure throws.
//
//   LockIsolated<std::vector<int>> ids{std::vector<int>{}};
//   ids.withValue([](std::vector<int>& v) { v.push_back(7); });
//   std::vector<int> snapshot = ids.value();
//   std::size_t n = state.get(&State::count);    // one member, read under the lock
#pragma once

#include <mutex>
#include <type_traits>
#include <utility>

#include "voduzazi/concurrency/detail/guarded_value.hpp"

namespace voduzazi {

// Shared objects: safe; every operation holds the mutex for its whole run (closures included), and
// the mutex is recursive, so a closure may call back into the same instance (a nested change is
// then overwritten by the outer write-back).
// Lifetime: shared by reference (hold it in a shared_ptr where several owners need it).
template <class Value>
class LockIsolated : public detail::GuardedValue<Value, std::recursive_mutex> {
 public:
  using detail::GuardedValue<Value, std::recursive_mutex>::GuardedValue;

  // Reads one member of a copy of the value, under the lock.
  template <class Member, class V = Value>
  requires std::is_class_v<V> Member get(Member V::*member)
  const {
    std::lock_guard lock(this->mutex_);
    Value copy = this->value_;
    return copy.*member;
  }

  // Reads through any accessor, on a copy of the value taken under the lock.
  template <class Read>
  auto read(Read&& read) const {
    std::lock_guard lock(this->mutex_);
    const Value copy = this->value_;
    return std::forward<Read>(read)(copy);
  }
};

}  // namespace voduzazi
