// The connection of RealtimeClientV2: connecting and reconnecting in one loop, the receive loop,
// and disconnecting.
#include <cstdio>
#include <stdexcept>
#include <utility>

#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/detail/wait_for_end.hpp"
#include "voduzazi/helpers/sleep_clock.hpp"
#include "voduzazi/issue_reporting/error_description.hpp"
#include "voduzazi/realtime/detail/log.hpp"
#include "voduzazi/realtime/realtime_channel_v2.hpp"
#include "voduzazi/realtime/realtime_client_v2.hpp"

namespace voduzazi::realtime {

namespace {

// 7.0 for seven seconds: always with its fractional part.
std::string secondsText(Seconds seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.1f", seconds.count());
  return text;
}

void closeSocket(const std::shared_ptr<WebSocket>& conn, std::optional<int> code,
                 std::optional<std::string> reason) {
  if (!conn) return;
  try {
    conn->close(code, reason);
  } catch (const std::invalid_argument&) {
    conn->close(std::nullopt, std::nullopt);  // a code or reason the protocol refuses
  }
}

}  // namespace

void RealtimeClientV2::connect() {
  std::uint64_t attempt = 0;  // the attempt this call waits for
  std::uint64_t opened = 0;   // the connections opened before it
  {
    std::lock_guard lock(mutex_);
    startConnectingLocked(false);
    attempt = askedAttempt_;
    opened = state_.connections;
  }
  // Every disconnect yields a status, so each is seen here. The state is newer than the status
  // in hand: a connection that opened meanwhile counts, though a disconnect may have followed.
  auto statuses = statusChange();
  while (auto status = statuses.next()) {
    if (*status == RealtimeClientStatus::connected) return;
    std::lock_guard lock(mutex_);
    if (closed_) break;
    if (state_.connections != opened) return;
    if (attempt > endedAttempt_) continue;
    // A disconnect ended it: wait on only for an attempt the caller asked for since.
    if (askedAttempt_ == endedAttempt_) break;
    attempt = askedAttempt_;
  }
  throw CancellationError();
}

void RealtimeClientV2::waitUntilConnected() {
  auto statuses = statusChange();
  while (auto status = statuses.next()) {
    if (*status == RealtimeClientStatus::connected) return;
  }
  throw CancellationError();  // the stream ends only when the waiting task is cancelled
}

void RealtimeClientV2::startConnecting(bool reconnect) {
  std::lock_guard lock(mutex_);
  startConnectingLocked(reconnect);
}

void RealtimeClientV2::startConnectingLocked(bool reconnect) {
  if (closed_) return;
  if (!reconnect && status() != RealtimeClientStatus::disconnected) return;
  // One attempt at a time: a loop already waiting or connecting serves this call too, unless a
  // teardown ended it (its cancellation may still be on its way).
  const auto& running = state_.connectionTask;
  if (running && !running->isFinished() && connectionGeneration_ == generation_) return;
  auto previous = std::exchange(state_.connectionTask, std::nullopt);
  if (!reconnect) ++askedAttempt_;
  connectionGeneration_ = generation_;
  state_.connectionTask =
      startTask([weak = weak_from_this(), reconnect, previous, generation = generation_] {
        runConnection(weak, reconnect, previous, generation);
      });
}

void RealtimeClientV2::runConnection(const std::weak_ptr<RealtimeClientV2>& weak, bool reconnect,
                                     std::optional<Task<void>> previous, std::uint64_t generation) {
  // A cancelled attempt may still be opening its socket; it ends before this one begins.
  if (previous) voduzazi::detail::waitForEnd(*previous);
  for (;;) {
    if (reconnect && !waitBeforeReconnect(weak)) return;
    const auto self = weak.lock();
    if (!self || this_task::isCancelled()) return;
    if (self->attemptConnection(generation)) return;
    reconnect = true;
  }
}

bool RealtimeClientV2::waitBeforeReconnect(const std::weak_ptr<RealtimeClientV2>& weak) {
  Seconds delay{};
  if (const auto self = weak.lock()) {
    delay = self->options_.reconnectDelay;
  } else {
    return false;
  }
  try {
    currentClock()->sleep(delay.count());
  } catch (const CancellationError&) {
  }
  if (!this_task::isCancelled()) return true;
  if (const auto self = weak.lock()) {
    detail::logDebug(self->options_.logger, [] { return "Reconnect cancelled, returning"; });
  }
  return false;
}

bool RealtimeClientV2::attemptConnection(std::uint64_t generation) {
  if (status() == RealtimeClientStatus::connected) {
    detail::logDebug(options_.logger, [] { return "WebsSocket already connected"; });
    return true;
  }
  {
    std::lock_guard lock(mutex_);
    if (generation != generation_) return true;  // disconnected (or released) meanwhile
    statusSubject_.yield(RealtimeClientStatus::connecting);
  }
  const auto url = realtimeWebSocketURL(realtimeBaseURL(url_), apikey_, options_.logLevel);
  std::shared_ptr<WebSocket> conn;
  try {
    conn = wsTransport_(url, dictionary(options_.headers));
  } catch (...) {
    onError(std::current_exception());
    resetConnection(std::nullopt, std::nullopt);
    return false;
  }
  // Listening starts before anyone learns of the connection, so no early event is missed.
  auto events = conn->events();
  if (conn->isClosed()) {
    onError(std::make_exception_ptr(std::runtime_error("the connection closed as it opened")));
    resetConnection(std::nullopt, std::nullopt);
    return false;
  }
  Rejoins rejoin;
  // Held until the buffer is out: a push made once connected goes after what was buffered.
  std::unique_lock sendLock(sendMutex_);
  {
    std::lock_guard lock(mutex_);
    // A disconnect (or the release) while the socket was opening wins: it goes unused.
    if (generation == generation_ && !closed_) {
      state_.conn = conn;
      const std::uint64_t connection = ++state_.connections;
      statusSubject_.yield(RealtimeClientStatus::connected);
      state_.messageTask = startTask([weak = weak_from_this(), events = std::move(events),
                                      generation] { listenForMessages(weak, events, generation); });
      state_.heartbeatTask =
          startTask([weak = weak_from_this(), interval = options_.heartbeatInterval, generation] {
            runHeartbeat(weak, interval, generation);
          });
      // Every channel the caller wants joined goes (back) in, whatever its status: also one
      // whose subscribe gave up while no connection answered. Its frames wait for its join.
      for (const auto& [topic, channel] : state_.channels) {
        if (!channel->wantsJoin()) continue;
        rejoin.channels.push_back(channel);
        rejoin.connection = connection;
        state_.awaitingRejoin.insert(topic);
      }
      conn.reset();
    }
  }
  if (conn) {
    sendLock.unlock();
    conn->close(std::nullopt, std::nullopt);
    return true;
  }
  onConnected(std::move(rejoin));
  return true;
}

// Runs with sendMutex_ held.
void RealtimeClientV2::onConnected(Rejoins rejoin) {
  detail::logDebug(options_.logger, [] { return "Connected to realtime WebSocket"; });
  if (!rejoin.channels.empty()) rejoinLater(std::move(rejoin));
  sendBuffered([this](const std::string& topic) { return !state_.awaitingRejoin.contains(topic); });
}

void RealtimeClientV2::rejoinLater(Rejoins rejoins) {
  startTask(
      [self = shared_from_this(), rejoins = std::move(rejoins)] { self->rejoinChannels(rejoins); });
}

void RealtimeClientV2::rejoinChannels(const Rejoins& rejoins) {
  for (const auto& channel : rejoins.channels) {
    // A channel whose own subscribe is under way keeps its frames waiting for that join.
    if (channel->rejoin(rejoins.connection) == RealtimeChannelV2::Rejoin::deferred) continue;
    releaseTopic(channel->topic());  // its join went out, or it gave up
  }
}

std::uint64_t RealtimeClientV2::connectionOfNextFrame() const {
  std::lock_guard lock(mutex_);
  const bool open = status() == RealtimeClientStatus::connected && state_.conn;
  return open ? state_.connections : state_.connections + 1;
}

void RealtimeClientV2::listenForMessages(const std::weak_ptr<RealtimeClientV2>& weak,
                                         const AsyncStream<WebSocketEvent>& events,
                                         std::uint64_t generation) {
  while (const auto event = events.next()) {
    if (this_task::isCancelled()) return;
    const auto self = weak.lock();
    if (!self || !self->handleEvent(*event, generation)) return;
  }
}

bool RealtimeClientV2::handleEvent(const WebSocketEvent& event, std::uint64_t generation) {
  if (const auto* text = std::get_if<WebSocketEvent::Text>(&event.kind)) {
    RealtimeMessageV2 message;
    try {
      message = decodeObjectFrame(text->text);
    } catch (...) {
      onError(std::current_exception());
      reconnect(std::nullopt, generation);
      return false;
    }
    onMessage(message);
  } else if (std::holds_alternative<WebSocketEvent::Binary>(event.kind)) {
    detail::logError(options_.logger, [] { return "Unsupported binary event received."; });
  } else {
    const auto& close = std::get<WebSocketEvent::Close>(event.kind);
    onClose(close.code, close.reason, generation);
  }
  return true;
}

void RealtimeClientV2::onMessage(const RealtimeMessageV2& message) {
  if (message.topic == "phoenix" && message.event == "phx_reply") {
    const auto status = message.payload.find("status");
    const bool ok = status != message.payload.end() && status->second == AnyJSON("ok");
    heartbeatSubject_.yield(ok ? HeartbeatStatus::ok : HeartbeatStatus::error);
  }
  bool heartbeatReply = false;
  bool stale = false;
  std::shared_ptr<RealtimeChannelV2> channel;
  {
    std::lock_guard lock(mutex_);
    if (message.ref && message.ref == state_.pendingHeartbeatRef) {
      state_.pendingHeartbeatRef.reset();
      heartbeatReply = true;
    }
    if (auto found = state_.channels.find(message.topic); found != state_.channels.end()) {
      channel = found->second;
    }
    stale = channel && isOfAnotherObject(message, channel);
  }
  detail::logDebug(options_.logger, [&] {
    return heartbeatReply ? std::string("heartbeat received")
                          : "Received event " + message.event + " for channel " + message.topic;
  });
  if (stale) {
    detail::logDebug(options_.logger, [&] {
      return "Dropped " + message.event + " of a join of a removed object of " + message.topic;
    });
    return;
  }
  if (channel) channel->onMessage(message);
}

bool RealtimeClientV2::isOfAnotherObject(const RealtimeMessageV2& message,
                                         const std::shared_ptr<RealtimeChannelV2>& channel) const {
  if (!message.joinRef) return false;
  const auto found = state_.joins.find(*message.joinRef);
  if (found == state_.joins.end()) return false;
  const auto owner = found->second.lock();
  return owner != channel && (!owner || owner->topic() == message.topic);
}

void RealtimeClientV2::onClose(std::optional<int> code, const std::string& reason,
                               std::uint64_t generation) {
  detail::logDebug(options_.logger, [&] {
    return "WebSocket closed. Code: " + (code ? std::to_string(*code) : "<none>") +
           ", Reason: " + (reason.empty() ? "<none>" : reason);
  });
  reconnect(std::nullopt, generation);
}

void RealtimeClientV2::onError(const std::exception_ptr& error) {
  detail::logDebug(options_.logger, [&] {
    return "WebSocket error " + describeError(error) + ". Trying again in " +
           secondsText(options_.reconnectDelay);
  });
}

void RealtimeClientV2::reconnect(std::optional<std::string> disconnectReason,
                                 std::uint64_t generation) {
  closeConnection(std::nullopt, std::move(disconnectReason), generation);
}

void RealtimeClientV2::disconnect(std::optional<int> code, std::optional<std::string> reason) {
  closeConnection(code, std::move(reason), std::nullopt);
}

void RealtimeClientV2::closeConnection(std::optional<int> code, std::optional<std::string> reason,
                                       std::optional<std::uint64_t> reconnecting) {
  detail::logDebug(options_.logger, [] { return "Closing WebSocket connection"; });
  Teardown teardown;
  {
    std::lock_guard lock(mutex_);
    // One step, so that a disconnect and a reconnect never interleave. A reconnect comes from a
    // task of the connection it replaces, whose generation any teardown since moved on (a
    // disconnect from whichever thread or callback, the release): that teardown stands. A
    // disconnect after this step ends the attempt the reconnect started.
    if (reconnecting && *reconnecting != generation_) return;
    ++generation_;
    if (!reconnecting) endedAttempt_ = askedAttempt_;
    if (state_.connectionTask) teardown.tasks.push_back(*state_.connectionTask);
    resetConnectionLocked(teardown);
    if (reconnecting) startConnectingLocked(true);
  }
  teardown.finish(code, std::move(reason));
}

void RealtimeClientV2::resetConnection(std::optional<int> code, std::optional<std::string> reason) {
  Teardown teardown;
  {
    std::lock_guard lock(mutex_);
    resetConnectionLocked(teardown);
  }
  teardown.finish(code, std::move(reason));
}

void RealtimeClientV2::resetConnectionLocked(Teardown& teardown) {
  teardown.conn = std::move(state_.conn);
  state_.conn.reset();
  state_.ref = 0;
  state_.joins.clear();  // references start again
  // A heartbeat unanswered on this connection says nothing about the next one.
  state_.pendingHeartbeatRef.reset();
  for (const auto* task : {&state_.messageTask, &state_.heartbeatTask}) {
    if (*task) teardown.tasks.push_back(**task);
  }
  statusSubject_.yield(RealtimeClientStatus::disconnected);
}

// The tasks first: a receive loop cancelled before its socket reports the close ignores it.
void RealtimeClientV2::Teardown::finish(std::optional<int> code,
                                        std::optional<std::string> reason) const {
  for (const auto& task : tasks) task.cancel();
  closeSocket(conn, code, std::move(reason));
}

}  // namespace voduzazi::realtime
