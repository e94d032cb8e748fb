// RealtimeChannel: one topic of the older realtime client. It joins with a "phx_join" push,
// rejoins after errors on a stepped back-off, leaves with "phx_leave", buffers pushes made before
// it has joined, and routes each message of its topic to the bindings registered for its event:
// postgres changes (matched by the server's binding ids), broadcasts and presence.
//
//   auto room = client->channel("room", {.presenceKey = "ada"});
//   room->on("broadcast", ChannelFilter{.event = "cursor"}, [](const RealtimeMessage& m) {});
//   room->subscribe(std::nullopt, [](RealtimeSubscribeStates state, const auto& error) {});
//   ChannelResponse sent = room->send(RealtimeListenTypes::broadcast, "cursor", {{"x", 1}});
//   room->track({{"online_at", "2026-12-09T11:00:00Z"}});
//
// Shared objects: safe; everything runs on the client's strand (see RealtimeClient), and the
// blocking send, track and untrack throw std::logic_error when called from a callback there.
// Lifetime: the client keeps its channels until they close or are removed; a channel holds the
// client weakly and works as an orphan (nothing is sent) once the client is gone.
#pragma once

#include <boost/url/url.hpp>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "voduzazi/realtime/channel_state.hpp"
#include "voduzazi/realtime/channel_types.hpp"
#include "voduzazi/realtime/defaults.hpp"
#include "voduzazi/realtime/push.hpp"
#include "voduzazi/realtime/realtime_client.hpp"
#include "voduzazi/realtime/strand.hpp"
#include "voduzazi/realtime/timeout_timer.hpp"

namespace voduzazi::realtime {

class Presence;

class RealtimeChannel : public std::enable_shared_from_this<RealtimeChannel> {
 public:
  using Handler = std::function<void(const RealtimeMessage&)>;
  using MessageTransformer = std::function<RealtimeMessage(const RealtimeMessage&)>;
  using SubscribeCallback =
      std::function<void(RealtimeSubscribeStates, const std::optional<RealtimeError>&)>;

  // What RealtimeClient::channel() calls; `topic` is the full topic ("realtime:room").
  static std::shared_ptr<RealtimeChannel> make(std::string topic, JSONObject params,
                                               const std::shared_ptr<RealtimeClient>& socket);
  ~RealtimeChannel();
  RealtimeChannel(const RealtimeChannel&) = delete;
  RealtimeChannel& operator=(const RealtimeChannel&) = delete;

  const std::string& topic() const noexcept { return topic_; }
  // The topic without "realtime:".
  const std::string& subTopic() const noexcept { return subTopic_; }
  JSONObject params() const;
  // Also becomes the join push's payload.
  void setParams(JSONObject params);
  ChannelState state() const;
  bool isClosed() const { return state() == ChannelState::closed; }
  bool isErrored() const { return state() == ChannelState::errored; }
  bool isJoined() const { return state() == ChannelState::joined; }
  bool isJoining() const { return state() == ChannelState::joining; }
  bool isLeaving() const { return state() == ChannelState::leaving; }
  double timeout() const;
  bool joinedOnce() const;
  // The reference of the current join push; nothing before the first join and after a reset.
  std::optional<std::string> joinRef() const;
  const std::shared_ptr<Push>& joinPush() const noexcept { return joinPush_; }
  std::vector<std::string> stateChangeRefs() const;
  // The bindings by lowercased event (a snapshot).
  std::map<std::string, std::vector<Binding>> bindings() const;
  std::weak_ptr<RealtimeClient> socket() const { return socket_; }
  const std::shared_ptr<Strand>& strand() const noexcept { return strand_; }
  const std::shared_ptr<TimerQueue>& timerQueue() const noexcept { return timerQueue_; }
  // True when the socket is connected and the channel joined.
  bool canPush() const;

  // The presence tracker, made on first use.
  std::shared_ptr<Presence> presence();

  // Connects the socket if needed and joins. `callback` hears subscribed (after the server's
  // postgres bindings were checked), timedOut, closed and channelError. Throws std::logic_error
  // on a second call.
  std::shared_ptr<RealtimeChannel> subscribe(std::optional<double> timeout = std::nullopt,
                                             SubscribeCallback callback = {});
  // Sends "phx_leave"; the channel closes when it is answered or times out (at once when the
  // socket is not connected).
  std::shared_ptr<Push> unsubscribe(double timeout = Defaults::timeoutInterval);
  // Joins again; no effect while leaving, nor once unsubscribed, removed or closed.
  void rejoin(std::optional<double> timeout = std::nullopt);

  // Registers `handler` for the event (compared without letter case) and filter.
  std::shared_ptr<RealtimeChannel> on(std::string_view event, const ChannelFilter& filter,
                                      Handler handler);
  // As on(), holding `owner` weakly.
  template <class Owner, class Action>
  std::shared_ptr<RealtimeChannel> delegateOn(std::string_view event, const ChannelFilter& filter,
                                              const std::shared_ptr<Owner>& owner, Action action);
  std::shared_ptr<RealtimeChannel> onClose(Handler handler);
  std::shared_ptr<RealtimeChannel> onError(Handler handler);
  // As onClose and onError, holding `owner` weakly; `action` takes (Owner&, message).
  template <class Owner, class Action>
  std::shared_ptr<RealtimeChannel> delegateOnClose(const std::shared_ptr<Owner>& owner,
                                                   Action action);
  template <class Owner, class Action>
  std::shared_ptr<RealtimeChannel> delegateOnError(const std::shared_ptr<Owner>& owner,
                                                   Action action);
  // What every message that reaches the bindings passes through first (after the check that a
  // lifecycle event belongs to the current join); the identity at first. It runs on the strand.
  MessageTransformer onMessage() const;
  void onMessage(MessageTransformer transformer);
  // Removes the bindings of the event whose filter equals `filter` exactly.
  void off(std::string_view event, const FilterDictionary& filter = {});

  // Sends now when joined, else when the join succeeds. Throws std::logic_error before subscribe.
  std::shared_ptr<Push> push(const std::string& event, JSONObject payload,
                             double timeout = Defaults::timeoutInterval);
  // Routes one message to the bindings of its event.
  void trigger(const RealtimeMessage& message);

  // Broadcast (over HTTP when the channel cannot push), presence or postgres traffic; waits for
  // the result. opts["timeout"] (a double) replaces the channel's time-out. Over HTTP, "apikey"
  // is the socket's API key (its "apikey" header, else its "apikey" param, else the access token)
  // and the access token, when there is one, goes as "Authorization: Bearer <token>"; a request
  // that cannot be built or sent is `error`. Throws std::logic_error only when called from one of
  // its client's own callbacks, which it would wait for.
  ChannelResponse send(RealtimeListenTypes type, std::optional<std::string> event,
                       JSONObject payload, const JSONObject& opts = {});
  ChannelResponse track(JSONObject payload, const JSONObject& opts = {});
  ChannelResponse untrack(const JSONObject& opts = {});
  // The presence state: key to {"metas": [...]}.
  JSONObject presenceState();
  // The HTTP broadcast endpoint of the socket's endpoint ("ws" becomes "http", the websocket path
  // becomes "/api/broadcast"); nothing when that is not a URL.
  std::optional<boost::urls::url> broadcastEndpointURL() const;

  // Used by the socket: puts the token in the join payload ("user_token").
  void setUserToken(const std::string& token);

 private:
  RealtimeChannel(std::string topic, JSONObject params, const std::shared_ptr<RealtimeClient>& s);
  void setUp(const std::shared_ptr<RealtimeClient>& socket);
  void addBinding(std::string_view event, const ChannelFilter& filter,
                  Delegated<RealtimeMessage, void> callback);
  std::shared_ptr<RealtimeClient> lockedSocket() const { return socket_.lock(); }
  bool socketConnected() const;
  friend class Push;
  // The socket's callOut; an orphan has no connection to lose, only a release to notice.
  RealtimeClient::AfterCall callOut(const std::function<void()>& call) const;
  // The same for a channel's push, which may outlive the channel (without a socket, then).
  static RealtimeClient::AfterCall callOut(const std::shared_ptr<RealtimeClient>& socket,
                                           const Strand& strand, const std::function<void()>& call);
  RealtimeClient::AfterCall log(const std::string& text) const;
  // The same, with the text made only when there is a logger.
  RealtimeClient::AfterCall log(const std::function<std::string()>& text) const;
  void scheduleRejoin();

  // Handlers (on the strand).
  void joinOk();
  void joinError();
  void joinTimeout();
  void closed();
  void errored(const RealtimeMessage& message);
  void replied(const RealtimeMessage& message);
  void joinReconciled(const RealtimeMessage& reply, const SubscribeCallback& callback);
  JSONObject joinConfig() const;
  bool matches(const Binding& binding, const std::string& event,
               const RealtimeMessage& message) const;
  // The broadcast over HTTP; `error` for anything that fails on the way.
  ChannelResponse sendOverHTTP(JSONObject payload, const std::optional<std::string>& event);
  // Builds and posts it; throws what fails on the way.
  ChannelResponse postBroadcast(JSONObject payload, const std::optional<std::string>& event);

  const std::string topic_;
  const std::string subTopic_;
  const std::weak_ptr<RealtimeClient> socket_;
  const std::shared_ptr<Strand> strand_;
  const std::shared_ptr<TimerQueue> timerQueue_;
  const std::shared_ptr<TimeoutTimer> rejoinTimer_;
  std::shared_ptr<Push> joinPush_;  // made once, right after construction

  // Strand-only state.
  JSONObject params_;
  std::shared_ptr<Presence> presence_;
  ChannelState state_ = ChannelState::closed;
  std::map<std::string, std::vector<Binding>> bindings_;
  double timeout_;
  bool joinedOnce_ = false;
  // Left (unsubscribe, removal) or closed: for good. A rejoin already planned or posted when
  // that happened then does nothing.
  bool ended_ = false;
  std::vector<std::shared_ptr<Push>> pushBuffer_;
  std::vector<std::string> stateChangeRefs_;
  MessageTransformer onMessage_ = [](const RealtimeMessage& message) { return message; };
};

// Implementation.

template <class Owner, class Action>
std::shared_ptr<RealtimeChannel> RealtimeChannel::delegateOn(std::string_view event,
                                                             const ChannelFilter& filter,
                                                             const std::shared_ptr<Owner>& owner,
                                                             Action action) {
  Delegated<RealtimeMessage, void> box;
  box.delegate(owner, std::move(action));
  addBinding(event, filter, std::move(box));
  return shared_from_this();
}

template <class Owner, class Action>
std::shared_ptr<RealtimeChannel> RealtimeChannel::delegateOnClose(
    const std::shared_ptr<Owner>& owner, Action action) {
  return delegateOn(ChannelEvent::close, {}, owner, std::move(action));
}

template <class Owner, class Action>
std::shared_ptr<RealtimeChannel> RealtimeChannel::delegateOnError(
    const std::shared_ptr<Owner>& owner, Action action) {
  return delegateOn(ChannelEvent::error, {}, owner, std::move(action));
}

}  // namespace voduzazi::realtime
