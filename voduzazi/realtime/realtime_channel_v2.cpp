#include "voduzazi/realtime/realtime_channel_v2.hpp"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/concurrency/this_task.hpp"
#include "voduzazi/helpers/sleep_clock.hpp"
#include "voduzazi/helpers/timeout.hpp"
#include "voduzazi/issue_reporting/report_issue.hpp"
#include "voduzazi/realtime/channel_state.hpp"
#include "voduzazi/realtime/detail/log.hpp"
#include "voduzazi/realtime/detail/retry_backoff.hpp"

namespace voduzazi::realtime {

namespace {

constexpr std::string_view kNotConnected =
    "You can't subscribe to a channel while the realtime client is not connected. Did you forget "
    "to call `realtime.connect()`?";

std::string twoDecimals(double seconds) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", seconds);
  return text;
}

}  // namespace

RealtimeChannelV2::RealtimeChannelV2(std::string topic, RealtimeChannelConfig config,
                                     std::weak_ptr<RealtimeClientV2> socket,
                                     std::shared_ptr<VoduzaziLogger> logger,
                                     std::shared_ptr<detail::ListenerQueue> listeners)
    : topic_(std::move(topic)),
      socket_(std::move(socket)),
      logger_(std::move(logger)),
      statusSubject_(RealtimeChannelStatus::unsubscribed, std::move(listeners)),
      config_(std::move(config)) {}

std::shared_ptr<RealtimeChannelV2> RealtimeChannelV2::make(
    std::string topic, RealtimeChannelConfig config, std::weak_ptr<RealtimeClientV2> socket,
    std::shared_ptr<VoduzaziLogger> logger, std::shared_ptr<detail::ListenerQueue> listeners) {
  return std::shared_ptr<RealtimeChannelV2>(
      new RealtimeChannelV2(std::move(topic), std::move(config), std::move(socket),
                            std::move(logger), std::move(listeners)));
}

// The callbacks go with the manager: removal tokens hold it only weakly.
RealtimeChannelV2::~RealtimeChannelV2() = default;

RealtimeChannelConfig RealtimeChannelV2::config() const {
  std::lock_guard lock(mutex_);
  return config_;
}

RealtimeChannelV2::MutableState RealtimeChannelV2::mutableState() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::shared_ptr<ObservationToken> RealtimeChannelV2::onStatusChange(
    std::function<void(RealtimeChannelStatus)> listener) {
  return statusSubject_.listen(
      [listener = std::move(listener)](const RealtimeChannelStatus& status) { listener(status); });
}

std::shared_ptr<RealtimeClientV2> RealtimeChannelV2::socket() const {
  const auto held = client();
  return held ? held->handle() : nullptr;
}

std::shared_ptr<RealtimeClientV2> RealtimeChannelV2::client() const {
  auto held = socket_.lock();
  return held && !held->isClosed() ? held : nullptr;
}

std::shared_ptr<RealtimeClientV2> RealtimeChannelV2::requireSocket() const {
  auto held = client();
  if (!held) throw RealtimeError("The realtime client of channel " + topic_ + " is gone.");
  return held;
}

void RealtimeChannelV2::endForRelease() {
  endSubscribes("The realtime client of channel " + topic_ + " was released.");
}

// One subscribeWithError() under way. Removal and unsubscribe end it through `stop`, which every
// wait of the run observes, and say why in `endedBecause` (guarded by joinGate_).
struct RealtimeChannelV2::SubscribeRun {
  std::stop_source stop;
  std::optional<std::string> endedBecause;
  bool rejoin = false;  // a rejoin of the client's, not the caller's subscribe
};

void RealtimeChannelV2::subscribeWithError() { subscribeAs(std::nullopt); }

RealtimeChannelV2::Rejoin RealtimeChannelV2::rejoin(std::uint64_t connection) {
  try {
    return subscribeAs(connection);
  } catch (...) {
    return Rejoin::done;  // as for any rejoin, its error goes nowhere
  }
}

RealtimeChannelV2::Rejoin RealtimeChannelV2::subscribeAs(std::optional<std::uint64_t> rejoinOn) {
  const auto client = requireSocket();
  const auto run = std::make_shared<SubscribeRun>();
  run->rejoin = rejoinOn.has_value();
  {
    std::lock_guard gate(joinGate_);
    if (rejoinOn && !wanted_) return Rejoin::unwanted;
    // Its own subscribe has already sent a join on that connection.
    if (rejoinOn && lastJoinOn_ >= *rejoinOn) return Rejoin::done;
    if (rejoinOn && !runs_.empty()) {
      rejoinDeferredOn_ = std::max(rejoinDeferredOn_, *rejoinOn);
      return Rejoin::deferred;
    }
    runs_.push_back(run);
  }
  struct Finish {
    RealtimeChannelV2& channel;
    const std::shared_ptr<SubscribeRun>& run;
    RealtimeClientV2& client;
    ~Finish() { channel.finishRun(run, client); }
  } finish{*this, run, *client};
  // The caller's cancellation reaches the run's waits too.
  std::stop_callback follow(this_task::stopToken(), [run] { run->stop.request_stop(); });
  voduzazi::detail::ScopedStopToken scope(run->stop.get_token());
  try {
    attemptJoins(*client, *run);
  } catch (const CancellationError&) {
    std::optional<std::string> why;
    {
      std::lock_guard gate(joinGate_);
      why = run->endedBecause;
    }
    if (why) throw RealtimeError(*why);
    throw;
  }
  return Rejoin::done;
}

void RealtimeChannelV2::finishRun(const std::shared_ptr<SubscribeRun>& run,
                                  RealtimeClientV2& client) {
  bool handOver = false;
  bool deferred = false;
  {
    std::lock_guard gate(joinGate_);
    std::erase(runs_, run);
    if (!runs_.empty()) return;
    const std::uint64_t skippedBy = std::exchange(rejoinDeferredOn_, 0);
    deferred = skippedBy != 0;
    handOver = deferred && lastJoinOn_ < skippedBy && wanted_ &&
               status() != RealtimeChannelStatus::subscribed;
  }
  // A connection that opened meanwhile left this channel to the subscribes under way; the last
  // of them ended without success and without a join on it, so its rejoin happens now.
  try {
    if (handOver) {
      client.rejoinLater({{shared_from_this()}, client.connectionOfNextFrame()});
    } else if (deferred) {
      client.releaseTopic(topic_);
    }
  } catch (const std::exception& error) {
    detail::logError(logger_, [&] { return std::string("Rejoin not started: ") + error.what(); });
  }
}

void RealtimeChannelV2::endSubscribes(const std::string& why,
                                      const std::function<void()>& alsoUnderGate) {
  std::vector<std::shared_ptr<SubscribeRun>> ended;
  {
    std::lock_guard gate(joinGate_);
    wanted_ = false;
    for (const auto& run : runs_) {
      if (!run->endedBecause) run->endedBecause = why;
    }
    ended = runs_;
    if (alsoUnderGate) alsoUnderGate();
  }
  for (const auto& run : ended) run->stop.request_stop();
}

void RealtimeChannelV2::throwIfEnded(const SubscribeRun& run) {
  // endedBecause before the stop: the stop is requested only once the gate is released.
  if (run.endedBecause || run.stop.stop_requested() || this_task::isCancelled()) {
    throw CancellationError();
  }
}

void RealtimeChannelV2::admit(RealtimeClientV2& client, const SubscribeRun& run) {
  throwIfEnded(run);
  // A channel that left (the server's close drops it from the client) may join again, unless
  // another object took its topic meanwhile: replies are routed by topic, so two objects of one
  // topic would take each other's joins and changes.
  if (!client.registerIfAbsent(shared_from_this())) {
    throw RealtimeError("Another channel object holds topic " + topic_ +
                        "; subscribe that one, or remove it first.");
  }
}

void RealtimeChannelV2::attemptJoins(RealtimeClientV2& client, const SubscribeRun& run) {
  {
    std::lock_guard gate(joinGate_);
    admit(client, run);
  }
  const int maxAttempts = client.options().maxRetryAttempts;
  const double timeout = client.options().timeoutInterval.count();
  const std::string quoted = "'" + topic_ + "'";
  detail::logDebug(logger_, [&] {
    return "Starting subscription to channel " + quoted + " (attempt 1/" +
           std::to_string(maxAttempts) + ")";
  });
  setStatus(RealtimeChannelStatus::subscribing);
  struct FallBack {
    RealtimeChannelV2& channel;
    ~FallBack() {
      if (channel.status() != RealtimeChannelStatus::subscribed) {
        channel.setStatus(RealtimeChannelStatus::unsubscribed);
      }
    }
  } fallBack{*this};
  const auto cancelled = [&] {
    detail::logDebug(logger_, [&] { return "Subscription retry cancelled for channel " + quoted; });
  };
  int attempts = 0;
  while (attempts < maxAttempts) {
    ++attempts;
    const std::string count = std::to_string(attempts) + "/" + std::to_string(maxAttempts);
    detail::logDebug(logger_, [&] {
      return "Attempting to subscribe to channel " + quoted + " (attempt " + count + ")";
    });
    try {
      // The attempt runs on this thread; the client's timer thread ends it at the deadline.
      client.timers().withDeadline(timeout, [&] { subscribeOnce(client, run); });
      detail::logDebug(logger_, [&] { return "Successfully subscribed to channel " + quoted; });
      return;
    } catch (const TimeoutError&) {
      detail::logDebug(logger_, [&] {
        return "Subscribe timed out for channel " + quoted + " (attempt " + count + ")";
      });
    } catch (const CancellationError&) {
      cancelled();
      throw;
    }
    if (attempts >= maxAttempts) {
      detail::logError(logger_, [&] {
        return "Failed to subscribe to channel " + quoted + " after " +
               std::to_string(maxAttempts) + " attempts due to timeout";
      });
      break;
    }
    const double delay = detail::retryDelay(attempts, client.random());
    detail::logDebug(logger_, [&] {
      return "Retrying subscription to channel " + quoted + " in " + twoDecimals(delay) +
             " seconds...";
    });
    try {
      currentClock()->sleep(delay);
    } catch (const CancellationError&) {
      cancelled();
      throw;
    }
  }
  detail::logError(logger_, [&] {
    return "Subscription to channel " + quoted + " failed after " + std::to_string(attempts) +
           " attempts";
  });
  throw RealtimeError("Maximum retry attempts reached.");
}

void RealtimeChannelV2::subscribe() {
  try {
    subscribeWithError();
  } catch (...) {
  }
}

void RealtimeChannelV2::subscribeOnce(RealtimeClientV2& client, const SubscribeRun& run) {
  if (client.status() != RealtimeClientStatus::connected) {
    // Only the caller's subscribe connects the client. Without a connection a rejoin ends (a
    // disconnect, which must stand, may be why); the next connection joins the channel again.
    if (run.rejoin) {
      const std::string ended = "Rejoin of channel " + topic_ + " ended: the client disconnected";
      detail::logDebug(logger_, [&] { return ended; });
      throw RealtimeError(ended);
    }
    if (!client.options().connectOnSubscribe) {
      reportIssue(std::string(kNotConnected));
      // No join was sent, so this is no subscription: say so rather than return as if it were.
      throw RealtimeError(std::string(kNotConnected));
    }
    {
      // A run that removal ended never connects the client again.
      std::lock_guard gate(joinGate_);
      throwIfEnded(run);
      wanted_ = true;
      client.startConnecting(false);
    }
    client.waitUntilConnected();
  }
  detail::logDebug(logger_, [&] { return "Subscribing to channel " + topic_; });
  const bool presence = callbackManager_->hasPresenceCallbacks();
  const std::optional<std::string> token = tokenForJoin(client);
  RealtimeJoinConfig joinConfig;
  {
    // Checked and sent in one step against removal: a removed channel sends no more joins. The
    // join waits for no reply here; its answer shows in the status.
    std::lock_guard gate(joinGate_);
    admit(client, run);
    wanted_ = true;
    const std::string joinRef = client.makeRef();
    {
      std::lock_guard lock(mutex_);
      config_.presence.enabled = presence;
      joinConfig = {config_.broadcast, config_.presence, state_.clientChanges, config_.isPrivate};
      state_.joinRef = joinRef;
    }
    const RealtimeJoinPayload payload{joinConfig, token,
                                      client.options().headers.get(field_names::xClientInfo)};
    client.noteJoin(joinRef, shared_from_this());
    lastJoinOn_ = client.connectionOfNextFrame();
    client.push(
        {joinRef, joinRef, topic_, std::string(ChannelEvent::join), payload.toJSONObject()});
  }
  detail::logDebug(logger_,
                   [&] { return "Subscribing to channel with body: " + joinConfig.description(); });
  auto statuses = statusChange();
  while (auto status = statuses.next()) {
    if (*status == RealtimeChannelStatus::subscribed) return;
  }
  throw CancellationError();
}

std::optional<std::string> RealtimeChannelV2::tokenForJoin(const RealtimeClientV2& client) const {
  std::optional<std::string> token;
  if (client.options().accessToken) {
    try {
      token = client.options().accessToken();
    } catch (const CancellationError&) {
      throw;
    } catch (...) {
    }
  }
  return token ? token : client.accessToken();
}

void RealtimeChannelV2::unsubscribe() {
  endSubscribes("Channel " + topic_ + " was unsubscribed while subscribing.");
  setStatus(RealtimeChannelStatus::unsubscribing);
  detail::logDebug(logger_, [&] { return "Unsubscribing from channel " + topic_; });
  push(ChannelEvent::leave);
}

void RealtimeChannelV2::waitUntilClosed() {
  if (const auto client = this->client()) {
    try {
      client->timers().withDeadline(client->options().timeoutInterval.count(), [this] {
        auto statuses = statusChange();
        while (auto status = statuses.next()) {
          if (*status == RealtimeChannelStatus::unsubscribed) return;
        }
      });
    } catch (const TimeoutError&) {
    }
  }
  if (status() != RealtimeChannelStatus::unsubscribed) {
    setStatus(RealtimeChannelStatus::unsubscribed);
  }
}

bool RealtimeChannelV2::endForRemoval(RealtimeClientV2& client, bool detach) {
  bool detached = false;
  endSubscribes("Channel " + topic_ + " was removed while subscribing.",
                [&] { detached = detach && client.detach(*this); });
  return detached;
}

void RealtimeChannelV2::leaveUnanswered(RealtimeClientV2& client) {
  std::optional<std::string> joinRef;
  {
    std::lock_guard lock(mutex_);
    joinRef = state_.joinRef;
  }
  detail::logDebug(logger_, [&] { return "Leaving the unanswered join of channel " + topic_; });
  client.push({joinRef, client.makeRef(), topic_, std::string(ChannelEvent::leave), {}});
}

void RealtimeChannelV2::updateAuth(std::optional<std::string> jwt) {
  detail::logDebug(logger_, [&] { return "Updating auth token for channel " + topic_; });
  push(ChannelEvent::accessToken, std::nullopt,
       {{"access_token", jwt ? AnyJSON(*jwt) : AnyJSON()}});
}

PushStatus RealtimeChannelV2::push(std::string_view event, std::optional<std::string> ref,
                                   JSONObject payload) {
  const auto client = this->client();
  if (!client) return PushStatus::error;
  if (!ref) ref = client->makeRef();
  RealtimeMessageV2 message;
  {
    std::lock_guard lock(mutex_);
    message = {state_.joinRef, ref, topic_, std::string(event), std::move(payload)};
  }
  auto pushed = std::make_shared<PushV2>(weak_from_this(), std::move(message));
  {
    std::lock_guard lock(mutex_);
    state_.pushes.insert_or_assign(*ref, pushed);
  }
  const PushStatus status = pushed->send();
  // Nobody waits for a reply once send() is back, so the entry goes (the map stays small).
  std::lock_guard lock(mutex_);
  if (auto found = state_.pushes.find(*ref);
      found != state_.pushes.end() && found->second == pushed) {
    state_.pushes.erase(found);
  }
  return status;
}

std::shared_ptr<ObservationToken> RealtimeChannelV2::removalToken(int id, std::string_view kind) {
  return std::make_shared<ObservationToken>([id, kind = std::string(kind), logger = logger_,
                                             manager =
                                                 std::weak_ptr<CallbackManager>(callbackManager_)] {
    detail::logDebug(
        logger, [&] { return "Removing " + kind + " callback with id: " + std::to_string(id); });
    if (const auto callbacks = manager.lock()) callbacks->removeCallback(id);
  });
}

std::shared_ptr<ObservationToken> RealtimeChannelV2::onPostgresChange(
    PostgresChangeEvent event, std::string schema, std::optional<std::string> table,
    std::optional<std::string> filter, std::function<void(const AnyAction&)> callback) {
  if (status() == RealtimeChannelStatus::subscribed) {
    reportIssue(
        "You cannot call postgresChange after joining the channel, this won't work as expected.");
    return std::make_shared<ObservationToken>();
  }
  PostgresJoinConfig change{event, std::move(schema), std::move(table), std::move(filter), 0};
  {
    std::lock_guard lock(mutex_);
    state_.clientChanges.push_back(change);
  }
  return removalToken(callbackManager_->addPostgresCallback(std::move(change), std::move(callback)),
                      "postgres");
}

std::shared_ptr<ObservationToken> RealtimeChannelV2::onBroadcast(
    std::string event, std::function<void(const JSONObject&)> callback) {
  return removalToken(callbackManager_->addBroadcastCallback(std::move(event), std::move(callback)),
                      "broadcast");
}

std::shared_ptr<ObservationToken> RealtimeChannelV2::onSystem(
    std::function<void(const RealtimeMessageV2&)> callback) {
  return removalToken(callbackManager_->addSystemCallback(std::move(callback)), "system");
}

std::shared_ptr<ObservationToken> RealtimeChannelV2::onSystem(std::function<void()> callback) {
  return onSystem([callback = std::move(callback)](const RealtimeMessageV2&) { callback(); });
}

std::shared_ptr<ObservationToken> RealtimeChannelV2::onPresenceChange(
    std::function<void(const PresenceAction&)> callback) {
  if (status() == RealtimeChannelStatus::subscribed) {
    detail::logDebug(logger_, [&] {
      return "Resubscribe to " + topic_ + " due to change in presence callback on joined channel.";
    });
    // On a task of the client, which its release waits for.
    if (const auto client = this->client()) {
      client->startTask([self = shared_from_this()] {
        self->unsubscribe();
        // The server's close drops the channel from its client; only then may it join again.
        self->waitUntilClosed();
        self->subscribe();
      });
    }
  }
  return removalToken(callbackManager_->addPresenceCallback(std::move(callback)), "presence");
}

AsyncStream<PresenceActionImpl> RealtimeChannelV2::presenceChange() {
  auto parts = unboundedStream<PresenceActionImpl>();
  auto token = onPresenceChange([continuation = parts.second](const PresenceAction& change) {
    continuation.yield(PresenceActionImpl(change.joins(), change.leaves(), change.rawMessage()));
  });
  return tiedTo(std::move(parts), std::move(token));
}

AsyncStream<JSONObject> RealtimeChannelV2::broadcastStream(std::string event) {
  auto parts = unboundedStream<JSONObject>();
  auto token = onBroadcast(std::move(event), [continuation = parts.second](const JSONObject& json) {
    continuation.yield(json);
  });
  return tiedTo(std::move(parts), std::move(token));
}

AsyncStream<RealtimeMessageV2> RealtimeChannelV2::system() {
  auto parts = unboundedStream<RealtimeMessageV2>();
  auto token = onSystem([continuation = parts.second](const RealtimeMessageV2& message) {
    continuation.yield(message);
  });
  return tiedTo(std::move(parts), std::move(token));
}

}  // namespace voduzazi::realtime
