// UncheckedSendable and UncheckedBox: plain wrappers that mark a value as fine to hand to another
// task. They add no synchronisation; their users provide it.
//
//   UncheckedSendable<Policy> policy{BufferingPolicy::unbounded()};
//   auto box = std::make_shared<UncheckedBox<std::optional<Iterator>>>(std::nullopt);
//   box->wrappedValue = makeIterator();
#pragma once

#include <cstddef>
#include <functional>
#include <utility>

namespace voduzazi {

// A value type: equality, hashing and (through unchecked_sendable_json.hpp) JSON coding pass
// straight through to `value`.
template <class Value>
struct UncheckedSendable {
  Value value;

  UncheckedSendable() = default;
  explicit UncheckedSendable(Value v) : value(std::move(v)) {}

  const Value& wrappedValue() const { return value; }
  Value& wrappedValue() { return value; }
  const Value* operator->() const { return &value; }
  Value* operator->() { return &value; }

  // Iterating the wrapper iterates the wrapped async sequence.
  auto makeAsyncIterator() const requires requires(const Value& v) { v.makeAsyncIterator(); }
  { return value.makeAsyncIterator(); }

  friend bool operator==(const UncheckedSendable& a, const UncheckedSendable& b) requires
      requires(const Value& v) {
    v == v;
  }
  { return a.value == b.value; }
};

// A mutable cell shared by reference (hold it in a shared_ptr).
// Shared objects: unsafe; guard it yourself.
template <class Value>
class UncheckedBox {
 public:
  explicit UncheckedBox(Value value) : wrappedValue(std::move(value)) {}
  Value wrappedValue;
};

}  // namespace voduzazi

template <class Value>
struct std::hash<voduzazi::UncheckedSendable<Value>> {
  std::size_t operator()(const voduzazi::UncheckedSendable<Value>& wrapper) const {
    return std::hash<Value>()(wrapper.value);
  }
};
