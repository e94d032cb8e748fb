// RealtimeChannel's lifecycle and the routing of its messages.
#include "voduzazi/realtime/realtime_channel.hpp"

#include <algorithm>
#include <stdexcept>

#include "voduzazi/helpers/detail/log_redaction.hpp"
#include "voduzazi/realtime/detail/lowercased.hpp"
#include "voduzazi/realtime/presence.hpp"
#include "voduzazi/realtime/realtime_client.hpp"

namespace voduzazi::realtime {
namespace {

std::string withoutPrefix(std::string topic) {
  constexpr std::string_view prefix = "realtime:";
  for (auto at = topic.find(prefix); at != std::string::npos; at = topic.find(prefix, at)) {
    topic.erase(at, prefix.size());
  }
  return topic;
}

// "v1 , v2 " from the reply's values, or "error" for an empty reply.
std::string errorText(const RealtimeMessage& message) {
  const JSONObject& payload = message.payload();
  if (payload.empty()) return "error";
  std::string text;
  for (const auto& [key, value] : payload) {
    text += (text.empty() ? "" : ", ") + value.description() + " ";
  }
  return text;
}

}  // namespace

std::shared_ptr<RealtimeChannel> RealtimeChannel::make(
    std::string topic, JSONObject params, const std::shared_ptr<RealtimeClient>& socket) {
  std::shared_ptr<RealtimeChannel> channel(
      new RealtimeChannel(std::move(topic), std::move(params), socket));
  channel->setUp(socket);
  return channel;
}

RealtimeChannel::RealtimeChannel(std::string topic, JSONObject params,
                                 const std::shared_ptr<RealtimeClient>& socket)
    : topic_(std::move(topic)),
      subTopic_(withoutPrefix(topic_)),
      socket_(socket),
      strand_(socket->strand()),
      timerQueue_(socket->timerQueue()),
      rejoinTimer_(TimeoutTimer::make(timerQueue_)),
      params_(std::move(params)),
      timeout_(socket->timeout()) {}

RealtimeChannel::~RealtimeChannel() { rejoinTimer_->reset(); }

void RealtimeChannel::setUp(const std::shared_ptr<RealtimeClient>& socket) {
  const auto self = shared_from_this();
  rejoinTimer_->callback.delegate(self, [](RealtimeChannel& channel) {
    channel.strand_->post([weak = channel.weak_from_this()] {
      const auto strong = weak.lock();
      if (strong && strong->socketConnected()) strong->rejoin();
    });
  });
  // Asked by schedule(), which runs on the strand. The back-off is the caller's: a release from
  // it plans nothing.
  rejoinTimer_->timerCalculation.delegate(
      self, [](RealtimeChannel& channel, int tries) -> std::optional<double> {
        const auto socket = channel.lockedSocket();
        if (!socket) return 5.0;
        double interval = 0;
        if (channel.callOut([&] { interval = socket->rejoinAfter(tries); }).released) {
          return std::nullopt;
        }
        return interval;
      });
  stateChangeRefs_.push_back(socket->delegateOnError(
      self, [](RealtimeChannel& channel, const auto&) { channel.rejoinTimer_->reset(); }));
  stateChangeRefs_.push_back(
      socket->delegateOnOpen(self, [](RealtimeChannel& channel, const auto&) {
        channel.rejoinTimer_->reset();
        if (channel.state_ == ChannelState::errored) channel.rejoin();
      }));
  joinPush_ = Push::make(self, std::string(ChannelEvent::join), params_, timeout_);
  joinPush_->delegateReceive(PushStatus::ok, self,
                             [](RealtimeChannel& channel, const auto&) { channel.joinOk(); });
  joinPush_->delegateReceive(PushStatus::error, self,
                             [](RealtimeChannel& channel, const auto&) { channel.joinError(); });
  joinPush_->delegateReceive(PushStatus::timeout, self,
                             [](RealtimeChannel& channel, const auto&) { channel.joinTimeout(); });
  delegateOn(ChannelEvent::close, {}, self,
             [](RealtimeChannel& channel, const RealtimeMessage&) { channel.closed(); });
  delegateOn(ChannelEvent::error, {}, self,
             [](RealtimeChannel& channel, const RealtimeMessage& m) { channel.errored(m); });
  delegateOn(ChannelEvent::reply, {}, self,
             [](RealtimeChannel& channel, const RealtimeMessage& m) { channel.replied(m); });
}

JSONObject RealtimeChannel::params() const {
  return strand_->call([&] { return params_; });
}

void RealtimeChannel::setParams(JSONObject params) {
  strand_->sync([&] {
    params_ = std::move(params);
    joinPush_->setPayload(params_);
  });
}

void RealtimeChannel::setUserToken(const std::string& token) {
  strand_->sync([&] {
    params_["user_token"] = token;
    joinPush_->setPayload(params_);
  });
}

ChannelState RealtimeChannel::state() const {
  return strand_->call([&] { return state_; });
}
double RealtimeChannel::timeout() const {
  return strand_->call([&] { return timeout_; });
}
bool RealtimeChannel::joinedOnce() const {
  return strand_->call([&] { return joinedOnce_; });
}
std::optional<std::string> RealtimeChannel::joinRef() const { return joinPush_->ref(); }
std::vector<std::string> RealtimeChannel::stateChangeRefs() const {
  return strand_->call([&] { return stateChangeRefs_; });
}
std::map<std::string, std::vector<Binding>> RealtimeChannel::bindings() const {
  return strand_->call([&] { return bindings_; });
}

bool RealtimeChannel::socketConnected() const {
  const auto socket = lockedSocket();
  return socket && socket->isConnected();
}

bool RealtimeChannel::canPush() const {
  return strand_->call([&] { return socketConnected() && state_ == ChannelState::joined; });
}

RealtimeClient::AfterCall RealtimeChannel::callOut(const std::function<void()>& call) const {
  return callOut(lockedSocket(), *strand_, call);
}

RealtimeClient::AfterCall RealtimeChannel::callOut(const std::shared_ptr<RealtimeClient>& socket,
                                                   const Strand& strand,
                                                   const std::function<void()>& call) {
  if (socket) return socket->callOut(call);
  if (strand.isClosedByCurrentWork()) return {.released = true};
  call();
  return {.released = strand.isClosedByCurrentWork()};
}

RealtimeClient::AfterCall RealtimeChannel::log(const std::string& text) const {
  return log([&] { return text; });
}

RealtimeClient::AfterCall RealtimeChannel::log(const std::function<std::string()>& text) const {
  const auto socket = lockedSocket();
  if (!socket) return {};
  return socket->logItems([&] { return std::vector<std::string>{"channel", text()}; });
}

void RealtimeChannel::scheduleRejoin() {
  if (socketConnected()) rejoinTimer_->schedule();
}

std::shared_ptr<Presence> RealtimeChannel::presence() {
  return strand_->call([&] {
    if (!presence_) presence_ = Presence::make(shared_from_this());
    return presence_;
  });
}

std::shared_ptr<RealtimeChannel> RealtimeChannel::subscribe(std::optional<double> timeout,
                                                            SubscribeCallback callback) {
  strand_->sync([&] {
    const auto socket = lockedSocket();
    if (socket && !socket->isConnected()) socket->connect();
    if (joinedOnce_) {
      throw std::logic_error(
          "tried to join multiple times. 'join' can only be called a single time per channel "
          "instance");
    }
    onError([callback](const RealtimeMessage& message) {
      if (callback)
        callback(RealtimeSubscribeStates::channelError, RealtimeError(errorText(message)));
    });
    onClose([callback](const RealtimeMessage&) {
      if (callback) callback(RealtimeSubscribeStates::closed, std::nullopt);
    });
    if (timeout) timeout_ = *timeout;
    // The tracker listens from before the join: a state sent after the join and missed would
    // leave it waiting for ever, holding back every diff.
    presence();
    params_["config"] = joinConfig();
    joinPush_->setPayload(params_);
    joinedOnce_ = true;
    rejoin();
    const auto self = shared_from_this();
    joinPush_->delegateReceive(PushStatus::ok, self,
                               [callback](RealtimeChannel& channel, const RealtimeMessage& reply) {
                                 channel.joinReconciled(reply, callback);
                               });
    joinPush_->receive(PushStatus::error, [callback](const RealtimeMessage& reply) {
      if (callback)
        callback(RealtimeSubscribeStates::channelError, RealtimeError(errorText(reply)));
    });
    joinPush_->receive(PushStatus::timeout, [callback](const RealtimeMessage&) {
      if (callback) callback(RealtimeSubscribeStates::timedOut, std::nullopt);
    });
  });
  return shared_from_this();
}

void RealtimeChannel::rejoin(std::optional<double> timeout) {
  strand_->sync([&] {
    if (state_ == ChannelState::leaving || ended_) return;
    const auto socket = lockedSocket();
    if (socket && callOut([&] { socket->leaveOpenTopic(topic_, this); }).released) return;
    joinPush_->setTimeout(timeout.value_or(timeout_));
    // The join carries the socket's token, so that what the channel receives is authorised from
    // the join on.
    JSONObject payload = params_;
    if (const auto token = socket ? socket->accessToken() : std::nullopt) {
      payload["access_token"] = *token;
    }
    joinPush_->setPayload(std::move(payload));
    // Without a client the join fails at once: errored, also when that failure goes unannounced
    // (a rejoin from inside the announcement of the last one).
    state_ = socket ? ChannelState::joining : ChannelState::errored;
    joinPush_->reset();
    joinPush_->send();
  });
}

void RealtimeChannel::joinOk() {
  state_ = ChannelState::joined;
  rejoinTimer_->reset();
  auto buffered = std::exchange(pushBuffer_, {});
  for (const auto& push : buffered) {
    if (callOut([&] { push->send(); }).released) return;
  }
}

void RealtimeChannel::joinError() {
  state_ = ChannelState::errored;
  scheduleRejoin();
}

void RealtimeChannel::joinTimeout() {
  const auto logged = log("timeout " + topic_ + " " + joinRef().value_or("") + " after " +
                          AnyJSON(timeout_).description() + "s");
  if (logged.released) return;
  Push::make(shared_from_this(), std::string(ChannelEvent::leave), {}, timeout_)->send();
  state_ = ChannelState::errored;
  joinPush_->reset();
  scheduleRejoin();
}

void RealtimeChannel::closed() {
  ended_ = true;
  rejoinTimer_->reset();
  // A join still unanswered must not come back through its time-out.
  joinPush_->cancel();
  const auto socket = lockedSocket();
  if (log("close topic: " + topic_ + " joinRef: " + joinRef().value_or("nil")).released) return;
  state_ = ChannelState::closed;
  if (socket) socket->remove(shared_from_this());
}

void RealtimeChannel::errored(const RealtimeMessage& message) {
  const auto logged = log([&] {
    const AnyJSON payload(voduzazi::detail::redactedObject(message.rawPayload));
    return "error topic: " + topic_ + " joinRef: " + joinRef().value_or("nil") +
           " mesage: " + payload.description();
  });
  if (logged.released) return;
  const auto socket = lockedSocket();
  if (state_ == ChannelState::joining) {
    if (const auto ref = joinRef(); ref && socket) socket->removeFromSendBuffer(*ref);
    joinPush_->reset();
  }
  state_ = ChannelState::errored;
  scheduleRejoin();
}

void RealtimeChannel::replied(const RealtimeMessage& message) {
  trigger(RealtimeMessage{message.ref, message.joinRef ? message.joinRef : joinRef(), topic_,
                          "chan_reply_" + message.ref, message.rawPayload});
}

std::shared_ptr<RealtimeChannel> RealtimeChannel::on(std::string_view event,
                                                     const ChannelFilter& filter, Handler handler) {
  Delegated<RealtimeMessage, void> box;
  box.manuallyDelegate(std::move(handler));
  addBinding(event, filter, std::move(box));
  return shared_from_this();
}

std::shared_ptr<RealtimeChannel> RealtimeChannel::onClose(Handler handler) {
  return on(ChannelEvent::close, {}, std::move(handler));
}

std::shared_ptr<RealtimeChannel> RealtimeChannel::onError(Handler handler) {
  return on(ChannelEvent::error, {}, std::move(handler));
}

void RealtimeChannel::addBinding(std::string_view event, const ChannelFilter& filter,
                                 Delegated<RealtimeMessage, void> callback) {
  strand_->sync([&] {
    std::string type = detail::lowercased(event);
    bindings_[type].push_back(Binding{type, filter.dictionary(), std::move(callback), {}});
  });
}

void RealtimeChannel::off(std::string_view event, const FilterDictionary& filter) {
  strand_->sync([&] {
    const std::string type = detail::lowercased(event);
    const auto found = bindings_.find(type);
    if (found == bindings_.end()) return;
    std::erase_if(found->second, [&](const Binding& binding) {
      return detail::lowercased(binding.type) == type && binding.filter == filter;
    });
    // An emptied list goes with its key: every push's reply event would otherwise stay behind.
    if (found->second.empty()) bindings_.erase(found);
  });
}

std::shared_ptr<Push> RealtimeChannel::push(const std::string& event, JSONObject payload,
                                            double timeout) {
  return strand_->call([&] {
    if (!joinedOnce_) {
      throw std::logic_error("Tried to push " + event + " to " + topic_ +
                             " before joining. Use channel.join() before pushing events");
    }
    auto push = Push::make(shared_from_this(), event, std::move(payload), timeout);
    if (socketConnected() && state_ == ChannelState::joined) {
      push->send();
    } else {
      push->startTimeout();
      pushBuffer_.push_back(push);
    }
    return push;
  });
}

std::shared_ptr<Push> RealtimeChannel::unsubscribe(double timeout) {
  return strand_->call([&] {
    // The reset cannot recall a rejoin the timer has already posted: the flag stops that one.
    ended_ = true;
    rejoinTimer_->reset();
    // The join ends here, answered or not: its time-out would otherwise leave, rejoin and so
    // close a newer channel of the topic, for ever. A join still waiting for the connection is
    // not sent at all.
    joinPush_->cancel();
    const auto socket = lockedSocket();
    if (const auto ref = joinRef(); ref && socket && state_ == ChannelState::joining) {
      socket->removeFromSendBuffer(*ref);
    }
    // Whether the leave can reach the server is decided before the state changes: once
    // "leaving" the channel can never push, and the close would never wait for the answer.
    const bool couldPush = socketConnected() && state_ == ChannelState::joined;
    state_ = ChannelState::leaving;
    const auto self = shared_from_this();
    // The local close carries the join reference in both slots, so that it passes the check
    // that lifecycle events belong to this join: a leave ends in "closed" whether or not the
    // server's own close arrives.
    auto closeAction = [](RealtimeChannel& channel, const RealtimeMessage&) {
      if (channel.log("leave " + channel.topic_).released) return;
      const std::string joinRef = channel.joinRef().value_or("");
      channel.trigger(RealtimeMessage{joinRef, joinRef, channel.topic_,
                                      std::string(ChannelEvent::close),
                                      JSONObject{{"reason", "leave"}}});
    };
    // Whatever answers the leave closes the channel: an error reply too, and the error a push
    // reports at once when the client is gone (an orphan would otherwise stay "leaving").
    auto leavePush = Push::make(self, std::string(ChannelEvent::leave), {}, timeout);
    for (const auto status : {PushStatus::ok, PushStatus::error, PushStatus::timeout}) {
      leavePush->delegateReceive(status, self, closeAction);
    }
    if (callOut([&] { leavePush->send(); }).released) return leavePush;
    if (!couldPush) leavePush->trigger(PushStatus::ok, {});
    return leavePush;
  });
}

RealtimeChannel::MessageTransformer RealtimeChannel::onMessage() const {
  return strand_->call([&] { return onMessage_; });
}

void RealtimeChannel::onMessage(MessageTransformer transformer) {
  strand_->sync([&] { onMessage_ = std::move(transformer); });
}

void RealtimeChannel::trigger(const RealtimeMessage& received) {
  strand_->sync([&] {
    const std::string receivedEvent = detail::lowercased(received.event);
    const bool lifecycle =
        receivedEvent == ChannelEvent::close || receivedEvent == ChannelEvent::error ||
        receivedEvent == ChannelEvent::leave || receivedEvent == ChannelEvent::join;
    if (lifecycle && (!received.joinRef || *received.joinRef != received.ref)) return;
    // A channel that has closed, or is leaving, is done with its join: a second close (the
    // server's and the local one may both come) and a late error are not reported.
    if ((receivedEvent == ChannelEvent::close && state_ == ChannelState::closed) ||
        (receivedEvent == ChannelEvent::error &&
         (state_ == ChannelState::closed || state_ == ChannelState::leaving))) {
      return;
    }
    RealtimeMessage message = received;
    const MessageTransformer transform = onMessage_;  // it may replace itself
    if (transform && callOut([&] { message = transform(received); }).released) return;
    const std::string event = detail::lowercased(message.event);

    const bool rowChange = event == "insert" || event == "update" || event == "delete";
    const auto found =
        bindings_.find(rowChange ? std::string(ChannelEvent::postgresChanges) : event);
    if (found == bindings_.end()) return;
    std::vector<Binding> kept;
    for (const auto& binding : found->second) {
      bool keep = false;
      if (rowChange) {
        // The stored filter may name the event in any letter case ("INSERT").
        const auto wanted = binding.filter.find("event");
        keep = wanted != binding.filter.end() &&
               (wanted->second == "*" || detail::lowercased(wanted->second) == event);
      } else if (event == ChannelEvent::broadcast || event == ChannelEvent::presence ||
                 event == ChannelEvent::postgresChanges) {
        keep = matches(binding, event, message);
      } else {
        keep = detail::lowercased(binding.type) == event;
      }
      if (keep) kept.push_back(binding);
    }
    for (const auto& binding : kept) {
      if (callOut([&] { binding.callback.call(message); }).released) return;
    }
  });
}

}  // namespace voduzazi::realtime
