// Turning any async sequence (a type with makeAsyncIterator() whose iterator has next() returning
// std::optional<Element>) into an AsyncStream or AsyncThrowingStream.
//
//   AsyncStream<int> stream = eraseToStream(UncheckedSendable(source));
//   while (auto value = stream.next()) use(*value);   // a source error just ends the stream
//   AsyncThrowingStream<int> strict = eraseToThrowingStream(source);  // rethrows it instead
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/concurrency/unchecked_sendable.hpp"

namespace voduzazi {

template <class S>
concept AsyncSequence = requires(const S& sequence) {
  sequence.makeAsyncIterator();
  std::declval<std::decay_t<decltype(sequence.makeAsyncIterator())>&>().next();
};

template <AsyncSequence S>
using AsyncSequenceElement = typename std::decay_t<
    decltype(std::declval<std::decay_t<decltype(std::declval<const S&>().makeAsyncIterator())>&>()
                 .next())>::value_type;

namespace detail {

// The shared iterator of one adapted stream: made on the first request, exactly once.
template <AsyncSequence S>
class SequenceCursor {
 public:
  explicit SequenceCursor(S sequence) : sequence_(std::move(sequence)) {}

  auto next() {
    {
      std::lock_guard lock(mutex_);
      if (!iterator_) iterator_.emplace(sequence_.makeAsyncIterator());
    }
    // The stream asks for one element at a time, so next() runs outside the lock.
    return iterator_->next();
  }

 private:
  using Iterator = std::decay_t<decltype(std::declval<const S&>().makeAsyncIterator())>;
  S sequence_;
  std::mutex mutex_;
  std::optional<Iterator> iterator_;
};

}  // namespace detail

// A stream of the sequence's elements; an error of the sequence ends it quietly.
template <AsyncSequence S>
AsyncStream<AsyncSequenceElement<S>> eraseToStream(S sequence) {
  using Element = AsyncSequenceElement<S>;
  auto cursor = std::make_shared<detail::SequenceCursor<S>>(std::move(sequence));
  return AsyncStream<Element>::unfolding([cursor]() -> std::optional<Element> {
    try {
      return cursor->next();
    } catch (...) {
      return std::nullopt;
    }
  });
}

// A stream of the sequence's elements; an error of the sequence is thrown to the consumer.
template <AsyncSequence S>
AsyncThrowingStream<AsyncSequenceElement<S>> eraseToThrowingStream(S sequence) {
  using Element = AsyncSequenceElement<S>;
  auto cursor = std::make_shared<detail::SequenceCursor<S>>(std::move(sequence));
  return AsyncThrowingStream<Element>::unfolding(
      [cursor]() -> std::optional<Element> { return cursor->next(); });
}

}  // namespace voduzazi
