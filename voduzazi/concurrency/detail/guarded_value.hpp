// The copy-in, copy-out value guard behind LockIsolated and ActorIsolated.
#pragma once

#include <mutex>
#include <type_traits>
#include <utility>

namespace voduzazi::detail {

template <class Value, class Mutex>
class GuardedValue {
 public:
  explicit GuardedValue(Value value) : value_(std::move(value)) {}

  // Builds the value with `make`; an exception from it propagates and no instance exists.
  template <class Make>
  requires std::is_invocable_r_v<Value, Make>
  explicit GuardedValue(Make&& make) : value_(std::forward<Make>(make)()) {}

  GuardedValue(const GuardedValue&) = delete;
  GuardedValue& operator=(const GuardedValue&) = delete;

  // Runs `body` on a copy of the value under the lock and writes the copy back afterwards, also
  // when `body` throws.
  template <class Body>
  decltype(auto) withValue(Body&& body) {
    std::lock_guard lock(mutex_);
    Value copy = value_;
    struct WriteBack {
      Value& target;
      Value& source;
      ~WriteBack() { target = std::move(source); }
    } writeBack{value_, copy};
    return std::forward<Body>(body)(copy);
  }

  void setValue(Value value) {
    std::lock_guard lock(mutex_);
    value_ = std::move(value);
  }

  // Evaluates `make` under the lock; when it throws, the old value stays.
  template <class Make>
  requires std::is_invocable_r_v<Value, Make>
  void setValue(Make&& make) {
    std::lock_guard lock(mutex_);
    value_ = std::forward<Make>(make)();
  }

  Value value() const {
    std::lock_guard lock(mutex_);
    return value_;
  }

 protected:
  Value value_;
  mutable Mutex mutex_;
};

}  // namespace voduzazi::detail
