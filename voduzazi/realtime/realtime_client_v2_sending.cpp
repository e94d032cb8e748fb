// RealtimeClientV2's heartbeat, sending and send buffer, message references and access token.
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/helpers/sleep_clock.hpp"
#include "voduzazi/realtime/channel_state.hpp"
#include "voduzazi/realtime/detail/log.hpp"
#include "voduzazi/realtime/realtime_channel_v2.hpp"
#include "voduzazi/realtime/realtime_client_v2.hpp"

namespace voduzazi::realtime {

void RealtimeClientV2::runHeartbeat(const std::weak_ptr<RealtimeClientV2>& weak, Seconds interval,
                                    std::uint64_t generation) {
  while (!this_task::isCancelled()) {
    try {
      currentClock()->sleep(interval.count());
    } catch (const CancellationError&) {
    }
    if (this_task::isCancelled()) return;
    if (const auto self = weak.lock()) self->sendHeartbeat(generation);
  }
}

void RealtimeClientV2::sendHeartbeat(std::uint64_t generation) {
  if (status() != RealtimeClientStatus::connected) {
    heartbeatSubject_.yield(HeartbeatStatus::disconnected);
    return;
  }
  std::optional<std::string> ref;
  {
    std::lock_guard lock(mutex_);
    if (state_.pendingHeartbeatRef) {
      state_.pendingHeartbeatRef.reset();  // the previous beat went unanswered
    } else {
      ref = makeRefLocked();
      state_.pendingHeartbeatRef = ref;
    }
  }
  if (!ref) {
    detail::logDebug(options_.logger, [] { return "Heartbeat timeout"; });
    heartbeatSubject_.yield(HeartbeatStatus::timeout);
    reconnect("heartbeat timeout", generation);
    return;
  }
  push(RealtimeMessageV2{std::nullopt, ref, "phoenix", std::string(ChannelEvent::heartbeat), {}});
  heartbeatSubject_.yield(HeartbeatStatus::sent);
  // Only a token function can have a newer token; without one the stored token stays.
  if (options_.accessToken) setAuth();
}

std::string RealtimeClientV2::makeRef() {
  std::lock_guard lock(mutex_);
  return makeRefLocked();
}

std::string RealtimeClientV2::makeRefLocked() { return std::to_string(++state_.ref); }

void RealtimeClientV2::push(const RealtimeMessageV2& message) {
  if (this_task::isCancelled()) return logSendFailure(message, CancellationError().what());
  Data frame;
  try {
    frame = encodeObjectFrame(message);
  } catch (const std::exception& error) {
    return logSendFailure(message, error.what());
  }
  std::lock_guard sendLock(sendMutex_);
  std::shared_ptr<WebSocket> conn;
  bool deadSocket = false;
  {
    std::lock_guard lock(mutex_);
    const bool waitsForJoin =
        message.event != ChannelEvent::join && state_.awaitingRejoin.contains(message.topic);
    const bool connected = status() == RealtimeClientStatus::connected;
    deadSocket = connected && (!state_.conn || state_.conn->isClosed());
    if (!connected || deadSocket || waitsForJoin) {
      state_.sendBuffer.emplace_back(message.topic, std::move(frame));
    } else {
      conn = state_.conn;
    }
  }
  if (deadSocket) {
    detail::logDebug(options_.logger, [] {
      return "The connection has closed; the message waits for the next one";
    });
  }
  if (!conn) return;
  conn->enqueue(frame);
  if (message.event == ChannelEvent::join) {
    std::lock_guard lock(mutex_);
    if (state_.awaitingRejoin.erase(message.topic) == 0) return;
  } else {
    return;
  }
  sendBuffered([&](const std::string& topic) { return topic == message.topic; });
}

void RealtimeClientV2::sendBuffered(const std::function<bool(const std::string& topic)>& take) {
  std::vector<Data> frames;
  std::shared_ptr<WebSocket> conn;
  {
    std::lock_guard lock(mutex_);
    if (status() != RealtimeClientStatus::connected || !state_.conn) return;
    conn = state_.conn;
    auto& buffer = state_.sendBuffer;
    for (auto it = buffer.begin(); it != buffer.end();) {
      if (take(it->first)) {
        frames.push_back(std::move(it->second));
        it = buffer.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const Data& frame : frames) conn->enqueue(frame);
}

void RealtimeClientV2::releaseTopic(const std::string& topic) {
  std::lock_guard sendLock(sendMutex_);
  {
    std::lock_guard lock(mutex_);
    if (state_.awaitingRejoin.erase(topic) == 0) return;
  }
  sendBuffered([&](const std::string& buffered) { return buffered == topic; });
}

void RealtimeClientV2::logSendFailure(const RealtimeMessageV2& message,
                                      const std::string& error) const {
  detail::logError(options_.logger, [&] {
    return "Failed to send message:\n" + detail::loggedDescription(message) + "\n\nError:\n" +
           error;
  });
}

void RealtimeClientV2::setAuth(std::optional<std::string> token) {
  if (isClosed()) return;  // a channel's work after the release asks the caller for nothing
  if (!token && options_.accessToken) {
    try {
      token = options_.accessToken();
    } catch (const CancellationError&) {
      throw;
    } catch (...) {
      token.reset();  // a failing token function counts as no token
    }
  }
  std::map<std::string, std::shared_ptr<RealtimeChannelV2>> registry;
  {
    std::lock_guard lock(mutex_);
    if (token == state_.accessToken) return;
    state_.accessToken = token;
    registry = state_.channels;
  }
  for (const auto& [topic, channel] : registry) {
    if (channel->status() == RealtimeChannelStatus::subscribed) channel->updateAuth(token);
  }
}

}  // namespace voduzazi::realtime
