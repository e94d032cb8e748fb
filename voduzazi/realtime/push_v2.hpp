// PushV2: one message a second-generation channel sends, and the wait for its reply when the
// channel asks the server to acknowledge broadcasts.
//
//   auto push = std::make_shared<PushV2>(channel, message);   // message.ref already set
//   PushStatus status = push->send();   // ok at once without acknowledgements; else the reply's
//                                       // status, or timeout after options().timeoutInterval
//   push->didReceive(PushStatus::ok);   // from the channel's reply dispatch
#pragma once

#include <memory>
#include <mutex>
#include <optional>

#include "voduzazi/realtime/detail/one_shot.hpp"
#include "voduzazi/realtime/push_status.hpp"
#include "voduzazi/realtime/realtime_message_v2.hpp"

namespace voduzazi::realtime {

class RealtimeChannelV2;

// Shared objects: safe. Lifetime: holds its channel weakly; a push whose channel is gone
// reports error.
class PushV2 {
 public:
  PushV2(std::weak_ptr<RealtimeChannelV2> channel, RealtimeMessageV2 message)
      : channel_(std::move(channel)), message_(std::move(message)) {}

  const RealtimeMessageV2& message() const noexcept { return message_; }

  // Hands the message to the client (sent, or buffered while disconnected). Without
  // acknowledgements: ok. With them: the reply's status, timeout when none came in time, error
  // when the calling task was cancelled or the channel is gone. Never throws. The wait is in
  // place before the message leaves, so no reply can come too early.
  PushStatus send();
  // The reply's status for a waiting send(); without one it changes nothing.
  void didReceive(PushStatus status);

 private:
  const std::weak_ptr<RealtimeChannelV2> channel_;
  const RealtimeMessageV2 message_;
  std::mutex mutex_;
  std::optional<detail::OneShot<PushStatus>> receivedContinuation_;
};

}  // namespace voduzazi::realtime
