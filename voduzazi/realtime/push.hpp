// Push: one message a channel sends and whose reply it awaits. Hooks per reply status ("ok",
// "error", "timeout") run when the reply arrives; no reply within the time-out counts as a
// "timeout" reply, a reply with another status (or none) as an "error" one, and so does a send
// from a channel whose client is gone. A push can be reset and sent again; its hooks stay.
//
//   auto push = channel->push("broadcast", {{"type", "broadcast"}, {"event", "ping"}});
//   push->receive(PushStatus::ok, [](const RealtimeMessage& reply) { use(reply.payload()); })
//       ->receive(PushStatus::timeout, [](const RealtimeMessage&) { retryLater(); });
//
// Shared objects: safe; every operation runs on the channel's strand, and so do the hooks.
// Lifetime: held by its channel or its caller; holds the channel weakly. A planned time-out keeps
// the push alive until it fires or is cancelled.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/realtime/delegated.hpp"
#include "voduzazi/realtime/push_status.hpp"
#include "voduzazi/realtime/realtime_client.hpp"
#include "voduzazi/realtime/realtime_message.hpp"
#include "voduzazi/realtime/strand.hpp"
#include "voduzazi/realtime/timeout_timer.hpp"

namespace voduzazi::realtime {

class RealtimeChannel;

class Push : public std::enable_shared_from_this<Push> {
 public:
  using Hook = std::function<void(const RealtimeMessage&)>;

  static std::shared_ptr<Push> make(const std::shared_ptr<RealtimeChannel>& channel,
                                    std::string event, JSONObject payload, double timeout);
  Push(const Push&) = delete;
  Push& operator=(const Push&) = delete;

  const std::string& event() const noexcept { return event_; }
  JSONObject payload() const;
  void setPayload(JSONObject payload);
  double timeout() const;
  void setTimeout(double seconds);
  std::optional<RealtimeMessage> receivedMessage() const;
  bool sent() const;
  std::optional<std::string> ref() const;
  std::optional<std::string> refEvent() const;

  // Sends with a fresh reference, awaiting the reply; does nothing after a time-out until reset.
  void send();
  // setTimeout, reset, send.
  void resend(double timeout);
  // Forgets the current send (reference, reply, reply binding); the hooks stay.
  void reset();
  // Stops awaiting the current send's reply: its reply binding goes and its time-out is
  // cancelled, so no hook runs for it. The reference stays: it still names the send.
  void cancel();
  // Takes a reference, listens for its reply and arms the time-out, without sending.
  void startTimeout();
  bool hasReceived(PushStatus status) const;
  // Feeds a reply of this status with `payload` to the channel, as if the server had sent it.
  void trigger(PushStatus status, JSONObject payload);

  // Adds a hook for the status; it also runs at once when that reply already arrived (unless
  // that is a failure for want of a client and a hook of such a failure is running: see
  // failOrphan).
  std::shared_ptr<Push> receive(PushStatus status, Hook hook);
  // As receive(), holding `owner` weakly; `action` takes (Owner&, const RealtimeMessage&).
  template <class Owner, class Action>
  std::shared_ptr<Push> delegateReceive(PushStatus status, const std::shared_ptr<Owner>& owner,
                                        Action action);

 private:
  Push(const std::shared_ptr<RealtimeChannel>& channel, std::string event, JSONObject payload,
       double timeout);
  std::shared_ptr<Push> addHook(PushStatus status, Delegated<RealtimeMessage, void> hook);
  // On the strand.
  void sendNow();
  void resetNow();
  void startTimeoutNow();
  void triggerNow(PushStatus status, JSONObject payload);
  void replied(const RealtimeMessage& message);
  void removeReplyBinding();
  void cancelTimeout();
  // Calls the hooks of the status, each through callOut; `message` must not be a member (a hook
  // may reset or resend this push).
  void matchReceive(PushStatus status, const RealtimeMessage& message);
  // The error without a client, at once. A hook of it that resends this push (a rejoin, for the
  // join push) fails it again, recorded but not announced again, or retries would recurse for
  // ever; a hook added from inside such an announcement to a push that failed so does not run
  // at once, for the same reason.
  void failOrphan();
  RealtimeClient::AfterCall callOut(const std::function<void()>& call) const;

  const std::weak_ptr<RealtimeChannel> channel_;
  const std::shared_ptr<Strand> strand_;
  const std::shared_ptr<TimerQueue> timeoutTimer_;
  const std::string event_;

  // Strand-only state.
  JSONObject payload_;
  double timeout_;
  std::optional<RealtimeMessage> receivedMessage_;
  std::shared_ptr<WorkItem> timeoutWorkItem_;
  std::map<PushStatus, std::vector<Delegated<RealtimeMessage, void>>> receiveHooks_;
  bool sent_ = false;
  bool failedOrphan_ = false;  // receivedMessage_ is failOrphan's
  bool announcing_ = false;    // its hooks hear failOrphan's failure
  std::optional<std::string> ref_;
  std::optional<std::string> refEvent_;
};

// Implementation.

template <class Owner, class Action>
std::shared_ptr<Push> Push::delegateReceive(PushStatus status, const std::shared_ptr<Owner>& owner,
                                            Action action) {
  Delegated<RealtimeMessage, void> hook;
  hook.delegate(owner, std::move(action));
  return addHook(status, std::move(hook));
}

}  // namespace voduzazi::realtime
