// NotificationServiceStandIn: the desktop's notification service, on a private session bus that
// it starts for this test process (DBUS_SESSION_BUS_ADDRESS then points at it). It records every
// Notify call and answers it at once, refuses it, or holds the first answer until told.
//
//   NotificationServiceStandIn& service = NotificationServiceStandIn::shared();
//   service.setAnswer(NotificationServiceStandIn::Answer::holdFirst);
//   ...                                  // the caller's Notify times out
//   service.answerHeld();                // the late answer
//
// Shared objects: safe. Lifetime: one for the process (the bus's client library keeps its
// connection); the bus stops when the tests end.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace tapwick::testing {

class NotificationServiceStandIn {
 public:
  enum class Answer {
    atOnce,
    // The first Notify call from now on is answered only by answerHeld(); later ones at once.
    holdFirst,
    // Every Notify call gets an error answer.
    refuse,
    // Every Notify call gets the answer the bus gives for a service that left without replying.
    leaveUnanswered,
  };

  // Starts the bus and the service the first time; throws std::runtime_error when no bus starts.
  static NotificationServiceStandIn& shared();

  void setAnswer(Answer answer);
  // Answers the held call now, with a notification id, as a service that caught up does.
  void answerHeld();
  // How many Notify calls arrived, and the body of each.
  std::size_t notifyCalls() const;
  std::vector<std::string> bodies() const;

  // Stops the shared service and its bus, if they were started; for the end of the tests.
  static void stopShared();

  struct Impl;

 private:
  NotificationServiceStandIn();
  void stop();
  std::unique_ptr<Impl> impl_;
};

}  // namespace tapwick::testing
