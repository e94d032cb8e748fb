// AuthStateChangeEventEmitter: announces every change of the signed-in state, as a notification
// on the process's notification center and to the listeners registered through the client.
//
//   AuthStateChangeEventEmitter emitter;
//   auto token = emitter.attach([](AuthChangeEvent event, const std::optional<Session>& s) {});
//   emitter.emit(AuthChangeEvent::signedIn, session);            // every listener
//   emitter.emit(AuthChangeEvent::initialSession, session, token.get());  // that listener only
//
// Copies share one emitter. Shared objects: safe; listeners run on the emitting thread, after the
// notification's observers, outside every lock. The last event is remembered but never replayed.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "voduzazi/auth/session.hpp"
#include "voduzazi/helpers/event_emitter.hpp"
#include "voduzazi/helpers/logger.hpp"
#include "voduzazi/platform/notification_center.hpp"

namespace voduzazi::auth {

// The notification posted for every event, and its user-information keys.
inline constexpr std::string_view didChangeAuthStateNotification =
    "AuthClient.didChangeAuthStateNotification";
inline constexpr std::string_view authChangeEventInfoKey = "AuthClient.authChangeEvent";
// Always present; holds a std::optional<Session>, empty without a session.
inline constexpr std::string_view authChangeSessionInfoKey = "AuthClient.authChangeSession";

class AuthStateChangeEventEmitter {
 public:
  using Event = std::optional<std::pair<AuthChangeEvent, std::optional<Session>>>;
  using Listener = std::function<void(AuthChangeEvent, const std::optional<Session>&)>;

  // Posts to `center` (the process's default center when null; a given one must outlive every
  // copy of the emitter) and logs each delivery through `logger` at verbose level. A listener or
  // an observer of the notification that throws is logged at error level through `failureLogger`
  // (else `logger`), and the other listeners and observers still get the event: emit never
  // throws.
  explicit AuthStateChangeEventEmitter(std::shared_ptr<VoduzaziLogger> logger = nullptr,
                                       NotificationCenter* center = nullptr,
                                       std::shared_ptr<VoduzaziLogger> failureLogger = nullptr);

  // Cancelling or releasing the token removes the listener.
  std::shared_ptr<ObservationToken> attach(Listener listener) const;

  // Posts the notification, then delivers to the token's listener, or to all without a token.
  void emit(AuthChangeEvent event, const std::optional<Session>& session,
            const ObservationToken* token = nullptr) const;
  // As emit to every listener, for an event that a later one may make stale while it goes out
  // (an observer that takes its time, a listener that signs out): `isCurrent` is asked before
  // each observer of the notification and each listener, and once it says no, no further one
  // gets the event; a stale event does not become lastEvent() either.
  void emit(AuthChangeEvent event, const std::optional<Session>& session,
            const std::function<bool()>& isCurrent) const;

  Event lastEvent() const { return emitter_->lastEvent(); }

  // Ends every delivery, for an owner that goes away: later emits post and deliver nothing, and
  // an emit under way calls no further listener.
  void close() const;
  // True while this thread is inside emit of this emitter (or of a copy): in one of its
  // listeners or observers, say.
  bool isEmittingOnThisThread() const;

 private:
  void emitTo(AuthChangeEvent event, const std::optional<Session>& session,
              const ObservationToken* token, const std::function<bool()>* isCurrent) const;

  std::shared_ptr<EventEmitter<Event>> emitter_;
  std::shared_ptr<VoduzaziLogger> logger_;
  std::shared_ptr<VoduzaziLogger> failureLogger_;
  NotificationCenter* center_;
  std::shared_ptr<std::atomic<bool>> closed_;
};

}  // namespace voduzazi::auth
