#include "voduzazi/realtime/push_v2.hpp"

#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/realtime/detail/log.hpp"
#include "voduzazi/realtime/realtime_channel_v2.hpp"

namespace voduzazi::realtime {

PushStatus PushV2::send() {
  const auto channel = channel_.lock();
  const auto client = channel ? channel->client() : nullptr;
  if (!client) return PushStatus::error;
  if (!channel->config().broadcast.acknowledgeBroadcasts) {
    client->push(message_);
    return PushStatus::ok;
  }
  const detail::OneShot<PushStatus> reply;
  {
    std::lock_guard lock(mutex_);
    receivedContinuation_ = reply;  // in place before the message can be answered
  }
  client->push(message_);
  PushStatus status = PushStatus::error;
  try {
    // The wait stays on this thread; the client's timer thread ends it at the deadline.
    if (const auto answer =
            client->timers().waitFor(reply, client->options().timeoutInterval.count())) {
      status = *answer;
    } else {
      detail::logDebug(channel->logger(), [] { return "Push timed out."; });
      status = PushStatus::timeout;
    }
  } catch (const CancellationError& error) {
    detail::logError(channel->logger(),
                     [&] { return std::string("Error sending push: ") + error.what(); });
  }
  std::lock_guard lock(mutex_);
  receivedContinuation_.reset();
  return status;
}

void PushV2::didReceive(PushStatus status) {
  std::lock_guard lock(mutex_);
  if (receivedContinuation_) receivedContinuation_->send(status);
  receivedContinuation_.reset();
}

}  // namespace voduzazi::realtime
