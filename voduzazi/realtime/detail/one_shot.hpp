// OneShot: one value handed from one task to a waiter, in either order: a value sent before
// anyone waits is kept for the waiter.
#pragma once

#include <utility>

#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"

namespace voduzazi::realtime::detail {

// Shared objects: safe (copies share one slot). Only the first value sent counts.
template <class T>
class OneShot {
 public:
  OneShot() : OneShot(AsyncStream<T>::makeStream(BufferingPolicy::bufferingOldest(1))) {}

  void send(T value) const { continuation_.yield(std::move(value)); }

  // Waits for the value; throws CancellationError when the waiting task is cancelled.
  T wait() const {
    auto value = stream_.next();
    if (!value) throw CancellationError();
    return std::move(*value);
  }

 private:
  explicit OneShot(std::pair<AsyncStream<T>, typename AsyncStream<T>::Continuation> parts)
      : stream_(std::move(parts.first)), continuation_(std::move(parts.second)) {}

  AsyncStream<T> stream_;
  typename AsyncStream<T>::Continuation continuation_;
};

}  // namespace voduzazi::realtime::detail
