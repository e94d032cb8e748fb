// RealtimeChannelV2: one topic on a RealtimeClientV2's socket. It joins with retry and back-off,
// delivers broadcasts, presence changes and row changes to callbacks or streams, and sends
// broadcasts (over the socket once joined, else over HTTP) and presence.
//
//   auto room = client->channel("room");
//   auto inserts = room->postgresChange<InsertAction>("public", "messages");   // before joining
//   auto typing = room->onBroadcast("typing", [](const JSONObject& payload) { show(payload); });
//   room->subscribeWithError();                 // RealtimeError after the last timed-out attempt
//   room->track({{"name", "ada"}});
//   while (auto change = inserts.next()) show(change->record);
//   room->unsubscribe();
//
// Shared objects: safe. Callbacks and stream values come from the client's receive thread, one
// message at a time and outside every lock; a callback must not wait for this channel (its
// replies arrive on that same thread). Status listeners run on the client's listener thread.
// Lifetime: made and owned by the client (held by shared_ptr); holds the client weakly, so
// operations on a channel that outlived its client's release fail (subscribe throws
// RealtimeError, sends report error) and its listeners are no longer called. Releasing it empties
// its callbacks.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/async_value_subject.hpp"
#include "voduzazi/helpers/logger.hpp"
#include "voduzazi/helpers/observation_token.hpp"
#include "voduzazi/realtime/callback_manager.hpp"
#include "voduzazi/realtime/detail/listened_subject.hpp"
#include "voduzazi/realtime/detail/listener_queue.hpp"
#include "voduzazi/realtime/join_config.hpp"
#include "voduzazi/realtime/postgres_actions.hpp"
#include "voduzazi/realtime/postgres_filter.hpp"
#include "voduzazi/realtime/presence_v2.hpp"
#include "voduzazi/realtime/push_status.hpp"
#include "voduzazi/realtime/push_v2.hpp"
#include "voduzazi/realtime/realtime_client_options.hpp"
#include "voduzazi/realtime/realtime_client_v2.hpp"
#include "voduzazi/realtime/realtime_error.hpp"
#include "voduzazi/realtime/realtime_message_v2.hpp"

namespace voduzazi::realtime {

class RealtimeChannelV2 : public std::enable_shared_from_this<RealtimeChannelV2> {
 public:
  struct MutableState {
    std::vector<PostgresJoinConfig> clientChanges;          // sent with every join, in order
    std::optional<std::string> joinRef;                     // of the last "phx_join"
    std::map<std::string, std::shared_ptr<PushV2>> pushes;  // awaiting their reply, by ref
  };

  // Channels are made by RealtimeClientV2::channel; their status listeners run on `listeners`.
  static std::shared_ptr<RealtimeChannelV2> make(std::string topic, RealtimeChannelConfig config,
                                                 std::weak_ptr<RealtimeClientV2> socket,
                                                 std::shared_ptr<VoduzaziLogger> logger,
                                                 std::shared_ptr<detail::ListenerQueue> listeners);
  ~RealtimeChannelV2();
  RealtimeChannelV2(const RealtimeChannelV2&) = delete;
  RealtimeChannelV2& operator=(const RealtimeChannelV2&) = delete;

  const std::string& topic() const noexcept { return topic_; }
  RealtimeChannelConfig config() const;
  const std::shared_ptr<VoduzaziLogger>& logger() const noexcept { return logger_; }
  // The client, until it is released; holding the result keeps it from being released.
  std::shared_ptr<RealtimeClientV2> socket() const;
  CallbackManager& callbackManager() const noexcept { return *callbackManager_; }
  MutableState mutableState() const;

  // --- Status.
  RealtimeChannelStatus status() const { return statusSubject_.value(); }
  AsyncStream<RealtimeChannelStatus> statusChange() { return statusSubject_.values(); }
  // Calls `listener` with the current status and each change (on the client's listener thread)
  // until the token is cancelled or released, or the client is released.
  std::shared_ptr<ObservationToken> onStatusChange(
      std::function<void(RealtimeChannelStatus)> listener);

  // --- Subscription.
  // Joins the topic, connecting the client first when needed (connectOnSubscribe). An attempt
  // that gets no answer within timeoutInterval is retried after about 1, 2, 4, 8 ... seconds,
  // up to maxRetryAttempts attempts. Throws RealtimeError ("Maximum retry attempts reached.",
  // why no attempt could be made, such as another object of the client holding the topic, or
  // that the channel was removed or unsubscribed meanwhile, which ends it at once) and
  // CancellationError; the status then falls back to unsubscribed.
  void subscribeWithError();
  // subscribeWithError without its error.
  void subscribe();
  // Whether the caller wants the channel joined: from its subscribe's first step that reaches
  // the client (connecting it, or a join) until unsubscribe or removal. Every new connection of
  // the client joins such a channel again, also one whose subscribe gave up.
  bool wantsJoin() const noexcept { return wanted_; }
  enum class Rejoin { done, deferred, unwanted };
  // On the client's new connection `connection`: joins again (as subscribeWithError, errors
  // dropped) when the caller wants it joined and no join of it went out on that connection yet;
  // it never connects the client, and ends when the client is not connected.
  // With a subscribe under way, nothing now (deferred):
  // that subscribe joins on this connection, or, if it ends without having joined there and
  // without success, hands over to a rejoin.
  Rejoin rejoin(std::uint64_t connection);
  // Ends the subscribes under way, then sends "phx_leave"; the server's close makes the channel
  // unsubscribed.
  void unsubscribe();
  // Sends the token (null without one) for this channel.
  void updateAuth(std::optional<std::string> jwt);
  // Sends one message on this topic (with the last join's reference, and `ref` or a new one)
  // and returns its PushV2 status.
  PushStatus push(std::string_view event, std::optional<std::string> ref = std::nullopt,
                  JSONObject payload = {});

  // --- Incoming.
  // One frame of this topic, from the client's receive loop. Never throws; a malformed frame is
  // logged and changes nothing.
  void onMessage(const RealtimeMessageV2& message);

  // Row changes of the schema (and table, and row filter) of `Action`'s kind: InsertAction,
  // UpdateAction, DeleteAction, or AnyAction for all. Register before joining: on a subscribed
  // channel this reports an issue and registers nothing.
  template <class Action = AnyAction, class Callback>
  std::shared_ptr<ObservationToken> onPostgresChange(std::string schema,
                                                     std::optional<std::string> table,
                                                     std::optional<std::string> filter,
                                                     Callback callback);
  std::shared_ptr<ObservationToken> onPostgresChange(
      PostgresChangeEvent event, std::string schema, std::optional<std::string> table,
      std::optional<std::string> filter, std::function<void(const AnyAction&)> callback);
  // Broadcasts of `event` (letter case ignored; "*" for all), with the frame's whole payload.
  std::shared_ptr<ObservationToken> onBroadcast(std::string event,
                                                std::function<void(const JSONObject&)> callback);
  std::shared_ptr<ObservationToken> onSystem(
      std::function<void(const RealtimeMessageV2&)> callback);
  std::shared_ptr<ObservationToken> onSystem(std::function<void()> callback);
  // Presence joins and leaves. On a subscribed channel the channel leaves and joins again in the
  // background, so that the server sends presence.
  std::shared_ptr<ObservationToken> onPresenceChange(
      std::function<void(const PresenceAction&)> callback);

  // --- Sending.
  // Over the socket when subscribed, else over HTTP to "<client url>/api/broadcast". Returns ok
  // once sent without acknowledgements (an HTTP failure is then only logged); with them, the
  // server's answer: ok, error (a refusal, an HTTP error status, a transport error) or timeout.
  PushStatus broadcast(std::string event, JSONObject message);
  // Any encodable value that encodes as a JSON object; throws DecodingError for other values.
  template <class T>
  PushStatus broadcast(std::string event, const T& message) {
    return broadcast(std::move(event), jsonObject(message));
  }
  // Announces this client's state; before the channel is subscribed this reports an issue and
  // still sends (the client keeps it until connected).
  void track(JSONObject state);
  template <class T>
  void track(const T& state) {
    track(jsonObject(state));
  }
  void untrack();

  // --- Streams: each registers a callback now and removes it when the stream's reader goes.
  // Values wait unbounded until read. Nothing in the channel ends these streams.
  AsyncStream<PresenceActionImpl> presenceChange();
  template <class Action = AnyAction>
  AsyncStream<Action> postgresChange(std::string schema, std::optional<std::string> table = {},
                                     std::optional<std::string> filter = {});
  template <class Action = AnyAction>
  AsyncStream<Action> postgresChange(std::string schema, std::optional<std::string> table,
                                     std::optional<RealtimePostgresFilter> filter) {
    return postgresChange<Action>(std::move(schema), std::move(table),
                                  filter ? std::optional(filter->filterString()) : std::nullopt);
  }
  AsyncStream<JSONObject> broadcastStream(std::string event);
  // The same stream as broadcastStream(event).
  AsyncStream<JSONObject> broadcast(std::string event) { return broadcastStream(std::move(event)); }
  AsyncStream<RealtimeMessageV2> system();

 private:
  friend class RealtimeClientV2;
  friend class PushV2;

  RealtimeChannelV2(std::string topic, RealtimeChannelConfig config,
                    std::weak_ptr<RealtimeClientV2> socket, std::shared_ptr<VoduzaziLogger> logger,
                    std::shared_ptr<detail::ListenerQueue> listeners);

  struct SubscribeRun;

  // The client for the channel's own work, until it is released; holding it does not keep the
  // client from being released.
  std::shared_ptr<RealtimeClientV2> client() const;
  std::shared_ptr<RealtimeClientV2> requireSocket() const;
  // The client's release: ends the subscribes under way.
  void endForRelease();
  void setStatus(RealtimeChannelStatus status) { statusSubject_.yield(status); }
  // The attempts of one subscribe, on the calling thread.
  void attemptJoins(RealtimeClientV2& client, const SubscribeRun& run);
  // One join attempt: returns once subscribed; throws CancellationError when cancelled first.
  void subscribeOnce(RealtimeClientV2& client, const SubscribeRun& run);
  // subscribeWithError, or for `rejoin` the rejoin of a wanted channel (deferred while another
  // subscribe runs).
  Rejoin subscribeAs(std::optional<std::uint64_t> rejoinOn);
  // With joinGate_ held: CancellationError once the run or its attempt was ended; RealtimeError
  // when another object holds the topic; else registers this channel.
  void admit(RealtimeClientV2& client, const SubscribeRun& run);
  static void throwIfEnded(const SubscribeRun& run);
  // Ends every run under way, telling its caller `why`, under joinGate_ (with `alsoUnderGate`
  // in the same step), and stops them once the gate is released: a stop runs the runs' stop
  // callbacks at once (those of the caller's access-token function among them).
  void endSubscribes(const std::string& why, const std::function<void()>& alsoUnderGate = {});
  void finishRun(const std::shared_ptr<SubscribeRun>& run, RealtimeClientV2& client);
  // Removal: ends the runs under way and, when `detach`, drops the channel and its waiting
  // frames from the client in the same step; true when a join of it on the current connection
  // may still be held by the server.
  bool endForRemoval(RealtimeClientV2& client, bool detach);
  // Leaves the topic for a join sent but not answered, without waiting for a reply.
  void leaveUnanswered(RealtimeClientV2& client);
  std::optional<std::string> tokenForJoin(const RealtimeClientV2& client) const;
  // After a leave: waits up to timeoutInterval for the close, then counts as unsubscribed.
  void waitUntilClosed();
  std::shared_ptr<ObservationToken> removalToken(int id, std::string_view kind);
  PushStatus broadcastOverHTTP(const RealtimeClientV2& client, std::string event,
                               JSONObject message);

  // Dispatch (realtime_channel_v2_dispatch.cpp).
  void onPostgresChanges(const RealtimeMessageV2& message);
  void onBroadcastMessage(const RealtimeMessageV2& message);
  void onPresence(const RealtimeMessageV2& message, bool diff);
  void onReply(const RealtimeMessageV2& message);
  void onSystemMessage(const RealtimeMessageV2& message);
  void onClose(const RealtimeMessageV2& message);

  template <class T>
  static std::pair<AsyncStream<T>, typename AsyncStream<T>::Continuation> unboundedStream() {
    return AsyncStream<T>::makeStream(BufferingPolicy::unbounded());
  }
  template <class T>
  static AsyncStream<T> tiedTo(
      std::pair<AsyncStream<T>, typename AsyncStream<T>::Continuation> parts,
      std::shared_ptr<ObservationToken> token);

  const std::string topic_;
  const std::weak_ptr<RealtimeClientV2> socket_;
  const std::shared_ptr<VoduzaziLogger> logger_;
  const std::shared_ptr<CallbackManager> callbackManager_ = std::make_shared<CallbackManager>();
  detail::ListenedSubject<RealtimeChannelStatus> statusSubject_;
  mutable std::mutex mutex_;  // guards config_ and state_; never held while calling out
  RealtimeChannelConfig config_;
  MutableState state_;
  // Orders a subscribe's steps that reach the client (connecting it, registering the channel,
  // sending a join) against removal and unsubscribe, which end the runs under way. Taken before
  // the client's locks, never while waiting.
  std::mutex joinGate_;
  std::vector<std::shared_ptr<SubscribeRun>> runs_;  // guarded by joinGate_
  std::atomic<bool> wanted_ = false;                 // written under joinGate_
  // Guarded by joinGate_: the last connection whose rejoin found runs_ under way, and the
  // connection this channel's last join went out on.
  std::uint64_t rejoinDeferredOn_ = 0;
  std::uint64_t lastJoinOn_ = 0;
};

}  // namespace voduzazi::realtime

// Implementation.

namespace voduzazi::realtime {

template <class Action, class Callback>
std::shared_ptr<ObservationToken> RealtimeChannelV2::onPostgresChange(
    std::string schema, std::optional<std::string> table, std::optional<std::string> filter,
    Callback callback) {
  static_assert(std::is_invocable_v<Callback&, const Action&>, "the callback takes the action");
  std::function<void(const AnyAction&)> wrapped;
  if constexpr (std::is_same_v<Action, AnyAction>) {
    wrapped = std::move(callback);
  } else {
    wrapped = [callback = std::move(callback)](const AnyAction& change) mutable {
      if (const auto* action = std::get_if<Action>(&change.action)) callback(*action);
    };
  }
  return onPostgresChange(Action::eventType, std::move(schema), std::move(table), std::move(filter),
                          std::move(wrapped));
}

template <class T>
AsyncStream<T> RealtimeChannelV2::tiedTo(
    std::pair<AsyncStream<T>, typename AsyncStream<T>::Continuation> parts,
    std::shared_ptr<ObservationToken> token) {
  parts.second.onTermination([token = std::move(token)](Termination) { token->cancel(); });
  return std::move(parts.first);
}

template <class Action>
AsyncStream<Action> RealtimeChannelV2::postgresChange(std::string schema,
                                                      std::optional<std::string> table,
                                                      std::optional<std::string> filter) {
  auto parts = unboundedStream<Action>();
  auto token = onPostgresChange<Action>(
      std::move(schema), std::move(table), std::move(filter),
      [continuation = parts.second](const Action& action) { continuation.yield(action); });
  return tiedTo(std::move(parts), std::move(token));
}

}  // namespace voduzazi::realtime
