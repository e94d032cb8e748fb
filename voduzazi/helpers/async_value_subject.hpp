// AsyncValueSubject: a current value plus any number of streams of its changes. A new stream
// first receives the current value, then every later one, in order.
//
//   AsyncValueSubject<Status> status(Status::disconnected);
//   auto changes = status.values();            // receives disconnected first
//   status.yield(Status::connected);
//   Task<void> watcher = status.onChange([](Status s) { render(s); });
//   status.finish();                           // ends every stream; later yields change nothing
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <type_traits>
#include <utility>
#include <variant>

#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/concurrency/this_task.hpp"

namespace voduzazi {

// Shared objects: safe; values reach every stream in the order they were yielded (yields into the
// streams happen under the subject's lock). Lifetime: destroying the subject finishes its streams.
template <class Element>
class AsyncValueSubject {
 public:
  explicit AsyncValueSubject(Element initial,
                             BufferingPolicy bufferingPolicy = BufferingPolicy::unbounded())
      : bufferingPolicy_(bufferingPolicy),
        state_(std::make_shared<LockIsolated<MutableState>>(
            MutableState{std::move(initial), {}, 0, false})) {}
  ~AsyncValueSubject() { finish(); }
  AsyncValueSubject(const AsyncValueSubject&) = delete;
  AsyncValueSubject& operator=(const AsyncValueSubject&) = delete;

  Element value() const { return state_->get(&MutableState::value); }

  // Makes `value` current and sends it to every live stream; ignored after finish().
  void yield(Element value);
  // For a subject of std::monostate: sends the empty value to every live stream.
  void yield() requires std::is_same_v<Element, std::monostate> { yield(std::monostate{}); }

  // Ends every live stream; later yields are ignored.
  void finish();

  // A stream that receives the current value, then each later one. Taken after finish(), it
  // receives the current value and ends.
  AsyncStream<Element> values();

  // Calls `handler` with each value, starting with the current one, in a task of its own until
  // the task is cancelled or the subject finishes. Dropping the task does not cancel it.
  template <class Handler>
  Task<void> onChange(Handler handler);

 private:
  using Continuation = typename AsyncStream<Element>::Continuation;
  struct MutableState {
    Element value;
    std::map<std::uint64_t, Continuation> continuations;
    std::uint64_t count = 0;
    bool finished = false;
  };

  const BufferingPolicy bufferingPolicy_;
  std::shared_ptr<LockIsolated<MutableState>> state_;
};

}  // namespace voduzazi

// Implementation.

namespace voduzazi {

template <class Element>
void AsyncValueSubject<Element>::yield(Element value) {
  state_->withValue([&](MutableState& s) {
    if (s.finished) return;
    s.value = std::move(value);
    for (const auto& [key, continuation] : s.continuations) continuation.yield(s.value);
  });
}

template <class Element>
void AsyncValueSubject<Element>::finish() {
  state_->withValue([](MutableState& s) {
    if (s.finished) return;
    s.finished = true;
    // Termination handlers remove their entries from the stored state; this copy is written
    // back afterwards, so the loop is not disturbed.
    for (const auto& [key, continuation] : s.continuations) continuation.finish();
  });
}

template <class Element>
AsyncStream<Element> AsyncValueSubject<Element>::values() {
  return AsyncStream<Element>(
      [this](Continuation continuation) {
        state_->withValue([&](MutableState& s) {
          continuation.yield(s.value);
          if (s.finished) {
            continuation.finish();
            return;
          }
          const std::uint64_t key = ++s.count;
          s.continuations.emplace(key, continuation);
          continuation.onTermination([weakState = std::weak_ptr(state_), key](Termination) {
            if (auto state = weakState.lock()) {
              state->withValue([key](MutableState& st) { st.continuations.erase(key); });
            }
          });
        });
      },
      bufferingPolicy_);
}

template <class Element>
template <class Handler>
Task<void> AsyncValueSubject<Element>::onChange(Handler handler) {
  return Task<void>([stream = values(), handler = std::move(handler)]() mutable {
    while (auto element = stream.next()) {
      if (this_task::isCancelled()) return;
      handler(*element);
    }
  });
}

}  // namespace voduzazi
