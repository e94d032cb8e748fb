// ApplicationLifecycle: tells whoever listens when the application becomes active or stops being
// active. The application feeds it (the desktop app reports active once it has started); the
// library's clients observe it (the auth client runs token auto-refresh while active).
//
//   auto lifecycle = std::make_shared<ApplicationLifecycle>();   // starts inactive
//   auto token = lifecycle->observe([](ApplicationActivity a) { react(a); });
//   lifecycle->setActivity(ApplicationActivity::active);          // observers run on this thread
//   token->cancel();                                              // or drop the token
#pragma once

#include <functional>
#include <memory>

#include "voduzazi/concurrency/lock_isolated.hpp"
#include "voduzazi/helpers/event_emitter.hpp"
#include "voduzazi/helpers/observation_token.hpp"

namespace voduzazi {

enum class ApplicationActivity { inactive, active };

// Shared objects: safe; observers run on the thread that changes the activity, outside every lock,
// in the order they were added. Lifetime: held by shared_ptr; tokens may outlive it.
class ApplicationLifecycle {
 public:
  using Observer = std::function<void(ApplicationActivity)>;

  explicit ApplicationLifecycle(ApplicationActivity initial = ApplicationActivity::inactive);

  // The process's notifier: inactive until the application reports otherwise.
  static const std::shared_ptr<ApplicationLifecycle>& shared();

  ApplicationActivity activity() const;

  // Records the activity and, when it changed, tells every observer.
  void setActivity(ApplicationActivity activity);

  // Adds `observer` until the token is cancelled or released. An application that is already
  // active is reported to the new observer at once, so an observer added after start-up does not
  // miss the start.
  std::shared_ptr<ObservationToken> observe(Observer observer);

 private:
  LockIsolated<ApplicationActivity> activity_;
  EventEmitter<ApplicationActivity> changes_;
};

}  // namespace voduzazi
