// EventEmitter: fans events out to listeners, remembers the last one and can replay it to a
// listener that attaches late. Each registration is an ObservationToken.
//
//   EventEmitter<AuthEvent> emitter(AuthEvent::initialSession, /*replay=*/true);
//   auto token = emitter.attach([](const AuthEvent& e) { handle(e); });  // replays now
//   emitter.emit(AuthEvent::signedIn);    // every listener, in attach order
//   auto events = emitter.stream();       // or consume them as an AsyncStream
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/helpers/observation_token.hpp"

namespace voduzazi {

// Shared objects: safe; listeners are called on the emitting thread, outside the emitter's lock,
// so they may attach, emit or cancel. Lifetime: tokens may outlive the emitter; cancelling them
// then does nothing.
template <class Event>
class EventEmitter {
 public:
  using Listener = std::function<void(const Event&)>;

  explicit EventEmitter(Event initialEvent, bool emitsLastEventWhenAttaching = true)
      : state_(std::make_shared<LockIsolated<MutableState>>(
            MutableState{{}, std::move(initialEvent)})),
        emitsLastEventWhenAttaching_(emitsLastEventWhenAttaching) {}
  EventEmitter(const EventEmitter&) = delete;
  EventEmitter& operator=(const EventEmitter&) = delete;

  Event lastEvent() const { return state_->get(&MutableState::lastEvent); }
  bool emitsLastEventWhenAttaching() const { return emitsLastEventWhenAttaching_; }

  // Registers `listener` until the returned token is cancelled or released. With replay on, the
  // listener receives the last event on this thread before attach returns.
  std::shared_ptr<ObservationToken> attach(Listener listener);

  // Stores `event` as the last event and calls every listener with it, in attach order.
  void emit(const Event& event) { deliver(event, nullptr, nullptr); }
  // Stores `event` as the last event and calls only the listener registered with `token`.
  void emit(const Event& event, const ObservationToken& token) { deliver(event, &token, nullptr); }
  // As emit(event), for an event that a later one may overtake while it goes out: `isCurrent` is
  // asked before it is stored and before each listener, and once it says no, nothing more
  // happens (it is not the last event, and no further listener is called).
  void emit(const Event& event, const std::function<bool()>& isCurrent) {
    deliver(event, nullptr, &isCurrent);
  }

  // The events emitted from now on (first the last event, with replay on). Ending or dropping the
  // stream removes its listener.
  AsyncStream<Event> stream();

 private:
  struct Entry {
    const ObservationToken* key;
    Listener listener;
  };
  struct MutableState {
    std::vector<Entry> listeners;
    Event lastEvent;
  };

  void deliver(const Event& event, const ObservationToken* target,
               const std::function<bool()>* isCurrent);

  std::shared_ptr<LockIsolated<MutableState>> state_;
  const bool emitsLastEventWhenAttaching_;
};

}  // namespace voduzazi

// Implementation.

namespace voduzazi {

template <class Event>
std::shared_ptr<ObservationToken> EventEmitter<Event>::attach(Listener listener) {
  auto token = std::make_shared<ObservationToken>();
  const ObservationToken* key = token.get();
  token->setOnCancel([weakState = std::weak_ptr(state_), key] {
    if (auto state = weakState.lock()) {
      state->withValue([key](MutableState& s) {
        std::erase_if(s.listeners, [key](const Entry& entry) { return entry.key == key; });
      });
    }
  });
  state_->withValue([&](MutableState& s) { s.listeners.push_back({key, listener}); });
  if (emitsLastEventWhenAttaching_) listener(lastEvent());
  return token;
}

template <class Event>
void EventEmitter<Event>::deliver(const Event& event, const ObservationToken* target,
                                  const std::function<bool()>* isCurrent) {
  std::optional<std::vector<Entry>> listeners =
      state_->withValue([&](MutableState& s) -> std::optional<std::vector<Entry>> {
        // Asked under the lock that a later event's store takes too: a stale event never
        // replaces it as the last one.
        if (isCurrent && !(*isCurrent)()) return std::nullopt;
        s.lastEvent = event;
        return s.listeners;
      });
  if (!listeners) return;
  if (target == nullptr) {
    for (const Entry& entry : *listeners) {
      if (isCurrent && !(*isCurrent)()) return;
      entry.listener(event);
    }
    return;
  }
  auto match = std::find_if(listeners->begin(), listeners->end(),
                            [target](const Entry& entry) { return entry.key == target; });
  if (match != listeners->end()) match->listener(event);
}

template <class Event>
AsyncStream<Event> EventEmitter<Event>::stream() {
  return AsyncStream<Event>([this](typename AsyncStream<Event>::Continuation continuation) {
    auto token = attach([continuation](const Event& event) { continuation.yield(event); });
    continuation.onTermination([token](Termination) { token->cancel(); });
  });
}

}  // namespace voduzazi
