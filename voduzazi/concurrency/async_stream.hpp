// AsyncStream and AsyncThrowingStream: a channel from producers (the continuation) to one
// consumer that blocks in next(), with a buffering policy and a termination handler.
//
//   auto [stream, continuation] = AsyncStream<int>::makeStream();
//   continuation.onTermination([](Termination why) { /* release resources */ });
//   Task<void> producer([c = continuation] { c.yield(1); c.yield(2); c.finish(); });
//   for (int value : stream) use(value);    // 1, 2, then the loop ends
#pragma once

#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <variant>

#include "voduzazi/concurrency/detail/wait_queue.hpp"
#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi {

// How many yielded elements a stream keeps while its consumer is not reading.
struct BufferingPolicy {
  enum class Kind { unbounded, bufferingOldest, bufferingNewest };
  Kind kind = Kind::unbounded;
  std::size_t limit = 0;

  static BufferingPolicy unbounded() { return {}; }
  // Keeps the first `n` elements; later ones are dropped while the buffer is full.
  static BufferingPolicy bufferingOldest(std::size_t n) { return {Kind::bufferingOldest, n}; }
  // Keeps the last `n` elements; the oldest is dropped to make room.
  static BufferingPolicy bufferingNewest(std::size_t n) { return {Kind::bufferingNewest, n}; }
};

// Why a stream terminated: its producer finished it, or its consumer went away or was cancelled.
enum class Termination { finished, cancelled };

// The outcome of Continuation::yield.
template <class T>
struct YieldResult {
  struct Enqueued {
    std::size_t remaining;  // free buffer places left (the maximum for unbounded streams)
  };
  struct Dropped {
    T element;  // the element that did not fit: the new one, or the oldest buffered one
  };
  struct Terminated {};
  std::variant<Enqueued, Dropped, Terminated> kind;

  bool isEnqueued() const { return std::holds_alternative<Enqueued>(kind); }
  bool isDropped() const { return std::holds_alternative<Dropped>(kind); }
  bool isTerminated() const { return std::holds_alternative<Terminated>(kind); }
};

namespace detail {

// What a stream's consumer reads from: a buffered channel, or a closure called per element.
template <class T>
class StreamSource {
 public:
  virtual ~StreamSource() = default;
  virtual std::optional<T> next() = 0;
  // The consumer is gone: release everything and run the termination handler.
  virtual void cancel() = 0;
};

template <class T>
class ChannelState final : public StreamSource<T> {
 public:
  using Handler = std::function<void(Termination)>;

  explicit ChannelState(BufferingPolicy policy) : policy_(policy) {}

  YieldResult<T> yield(T element) {
    std::unique_lock lock(mutex_);
    if (finished_) return {typename YieldResult<T>::Terminated{}};
    YieldResult<T> result = enqueue(std::move(element));
    queue_.notifyAll();
    return result;
  }

  void finish(std::exception_ptr error) { terminate(Termination::finished, std::move(error)); }

  void onTermination(Handler handler) {
    std::unique_lock lock(mutex_);
    if (!handlerDone_) {
      std::swap(handler_, handler);
      lock.unlock();
      return;  // a replaced handler is destroyed here, outside the lock
    }
    lock.unlock();
    // Already over: run it now so that cleanup registered late still happens exactly once.
    if (handler) handler(terminationCause_);
  }

  std::optional<T> next() override {
    const std::stop_token stop = this_task::stopToken();
    std::unique_lock lock(mutex_);
    queue_.wait(lock, stop, [this] { return handedOff_ || !buffer_.empty() || finished_; });
    if (stop.stop_requested()) {
      // A cancelled consumer reads nothing more, even with elements still buffered.
      lock.unlock();
      cancel();
      return std::nullopt;
    }
    if (handedOff_) return std::exchange(handedOff_, std::nullopt);
    if (!buffer_.empty()) {
      T element = std::move(buffer_.front());
      buffer_.pop_front();
      return element;
    }
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
    return std::nullopt;
  }

  void cancel() override { terminate(Termination::cancelled, nullptr); }

 private:
  YieldResult<T> enqueue(T element) {
    using R = YieldResult<T>;
    if (queue_.hasWaiters() && !handedOff_ && buffer_.empty()) {
      // The consumer is blocked on an empty stream: it takes the element at once, so the element
      // takes no buffer place (a limit of 0 still reaches a waiting consumer).
      handedOff_.emplace(std::move(element));
      const bool bounded = policy_.kind != BufferingPolicy::Kind::unbounded;
      return {
          typename R::Enqueued{bounded ? policy_.limit : std::numeric_limits<std::size_t>::max()}};
    }
    switch (policy_.kind) {
      case BufferingPolicy::Kind::unbounded:
        buffer_.push_back(std::move(element));
        return {typename R::Enqueued{std::numeric_limits<std::size_t>::max()}};
      case BufferingPolicy::Kind::bufferingOldest:
        if (buffer_.size() >= policy_.limit) return {typename R::Dropped{std::move(element)}};
        buffer_.push_back(std::move(element));
        return {typename R::Enqueued{policy_.limit - buffer_.size()}};
      case BufferingPolicy::Kind::bufferingNewest:
        if (policy_.limit == 0) return {typename R::Dropped{std::move(element)}};
        if (buffer_.size() >= policy_.limit) {
          T oldest = std::move(buffer_.front());
          buffer_.pop_front();
          buffer_.push_back(std::move(element));
          return {typename R::Dropped{std::move(oldest)}};
        }
        buffer_.push_back(std::move(element));
        return {typename R::Enqueued{policy_.limit - buffer_.size()}};
    }
    return {typename R::Terminated{}};
  }

  void terminate(Termination cause, std::exception_ptr error) {
    Handler handler;
    std::deque<T> discarded;
    {
      std::lock_guard lock(mutex_);
      if (!finished_) {
        finished_ = true;
        error_ = std::move(error);
      }
      if (cause == Termination::cancelled) {
        // A gone consumer reads nothing more: drop what is buffered (outside the lock).
        discarded.swap(buffer_);
        if (handedOff_) discarded.push_back(*std::exchange(handedOff_, std::nullopt));
        error_ = nullptr;
      }
      if (!handlerDone_) {
        handlerDone_ = true;
        terminationCause_ = cause;
        handler = std::move(handler_);
      }
      queue_.notifyAll();
    }
    if (handler) handler(cause);
  }

  const BufferingPolicy policy_;
  std::mutex mutex_;
  WaitQueue queue_;
  std::optional<T> handedOff_;  // taken by a consumer that was waiting; counts against no limit
  std::deque<T> buffer_;
  bool finished_ = false;  // no more elements will be accepted
  std::exception_ptr error_;
  Handler handler_;
  bool handlerDone_ = false;
  Termination terminationCause_ = Termination::finished;
};

// Calls a closure for each element; an element of nullopt ends the stream for good.
template <class T>
class UnfoldingSource final : public StreamSource<T> {
 public:
  explicit UnfoldingSource(std::function<std::optional<T>()> produce)
      : produce_(std::move(produce)) {}

  std::optional<T> next() override {
    std::function<std::optional<T>()> produce;
    {
      std::lock_guard lock(mutex_);
      if (produce_ && !this_task::isCancelled()) produce = produce_;
    }
    if (!produce) {
      cancel();
      return std::nullopt;
    }
    try {
      std::optional<T> element = produce();
      if (!element) cancel();
      return element;
    } catch (...) {
      cancel();
      throw;
    }
  }

  void cancel() override {
    std::function<std::optional<T>()> dying;
    std::lock_guard lock(mutex_);
    dying.swap(produce_);
  }

 private:
  std::mutex mutex_;
  std::function<std::optional<T>()> produce_;
};

// Owned by the consumer handles: when the last one goes, the source is cancelled.
template <class T>
struct ConsumerLink {
  explicit ConsumerLink(std::shared_ptr<StreamSource<T>> s) : source(std::move(s)) {}
  ~ConsumerLink() { source->cancel(); }
  ConsumerLink(const ConsumerLink&) = delete;
  ConsumerLink& operator=(const ConsumerLink&) = delete;
  const std::shared_ptr<StreamSource<T>> source;
};

}  // namespace detail

// A stream of T read by one consumer. `Throwing` streams can be finished with an error, which
// next() rethrows after the buffered elements.
// Distinct objects: safe. Shared objects: one consumer at a time; continuations from any thread.
// Lifetime: when the last copy of the stream goes, it terminates as cancelled.
template <class T, bool Throwing>
class BasicAsyncStream {
 public:
  using Element = T;

  // The producing side; copies share one channel.
  class Continuation {
   public:
    YieldResult<T> yield(T element) const { return state_->yield(std::move(element)); }
    // Ends the stream once the buffered elements are read; later yields report terminated.
    void finish() const { state_->finish(nullptr); }
    void finish(std::exception_ptr error) const requires Throwing {
      state_->finish(std::move(error));
    }
    // Runs once, when the stream terminates (at once when it already has).
    void onTermination(std::function<void(Termination)> handler) const {
      state_->onTermination(std::move(handler));
    }

   private:
    friend class BasicAsyncStream;
    explicit Continuation(std::shared_ptr<detail::ChannelState<T>> state)
        : state_(std::move(state)) {}
    std::shared_ptr<detail::ChannelState<T>> state_;
  };

  // A stream whose `build` receives the continuation at once, on the calling thread.
  explicit BasicAsyncStream(const std::function<void(Continuation)>& build,
                            BufferingPolicy policy = BufferingPolicy::unbounded()) {
    auto state = std::make_shared<detail::ChannelState<T>>(policy);
    link_ = std::make_shared<detail::ConsumerLink<T>>(state);
    build(Continuation(std::move(state)));
  }

  static std::pair<BasicAsyncStream, Continuation> makeStream(
      BufferingPolicy policy = BufferingPolicy::unbounded()) {
    std::optional<Continuation> continuation;
    BasicAsyncStream stream([&](Continuation c) { continuation.emplace(std::move(c)); }, policy);
    return {std::move(stream), std::move(*continuation)};
  }

  // A stream that asks `produce` for each element; nullopt ends it.
  static BasicAsyncStream unfolding(std::function<std::optional<T>()> produce) {
    return BasicAsyncStream(std::make_shared<detail::UnfoldingSource<T>>(std::move(produce)));
  }

  // Never yields and never finishes: next() returns only when the consumer is cancelled.
  static BasicAsyncStream never() {
    return BasicAsyncStream([](Continuation) {});
  }
  // Already finished (with `error` for throwing streams).
  static BasicAsyncStream finished(std::exception_ptr error = nullptr) {
    return BasicAsyncStream([&](Continuation c) {
      if constexpr (Throwing) {
        c.finish(error);
      } else {
        c.finish();
      }
    });
  }

  // The next element; nullopt when the stream is over or the consuming task is cancelled (which
  // terminates the stream). Throwing streams rethrow their finishing error once.
  std::optional<T> next() const { return link_->source->next(); }

  // Streams are their own iterators: makeAsyncIterator() lets adapters treat them as sequences.
  const BasicAsyncStream& makeAsyncIterator() const { return *this; }

  class iterator {
   public:
    using iterator_category = std::input_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = T*;
    using reference = T&;
    iterator() = default;
    explicit iterator(const BasicAsyncStream* stream) : stream_(stream) { advance(); }
    T& operator*() { return *current_; }
    iterator& operator++() {
      advance();
      return *this;
    }
    void operator++(int) { advance(); }
    bool operator==(const iterator& other) const { return done() == other.done(); }

   private:
    bool done() const { return !current_.has_value(); }
    void advance() { current_ = stream_->next(); }
    const BasicAsyncStream* stream_ = nullptr;
    std::optional<T> current_;
  };
  iterator begin() const { return iterator(this); }
  iterator end() const { return iterator(); }

 private:
  explicit BasicAsyncStream(std::shared_ptr<detail::StreamSource<T>> source)
      : link_(std::make_shared<detail::ConsumerLink<T>>(std::move(source))) {}

  std::shared_ptr<detail::ConsumerLink<T>> link_;
};

template <class T>
using AsyncStream = BasicAsyncStream<T, false>;
template <class T>
using AsyncThrowingStream = BasicAsyncStream<T, true>;

}  // namespace voduzazi
