// The traffic side of RealtimeClient: references, the send buffer, heartbeats, dispatch of
// received frames, access tokens and the channel list.
#include <algorithm>
#include <cstdio>

#include "voduzazi/helpers/detail/log_redaction.hpp"
#include "voduzazi/realtime/realtime_channel.hpp"
#include "voduzazi/realtime/realtime_client.hpp"

namespace voduzazi::realtime {
namespace {

bool isLifecycleEvent(std::string_view event) {
  return event == ChannelEvent::join || event == ChannelEvent::leave ||
         event == ChannelEvent::reply || event == ChannelEvent::error ||
         event == ChannelEvent::close;
}

}  // namespace

std::string RealtimeClient::makeRef() {
  return strand_->call([&] { return nextRef(); });
}

std::string RealtimeClient::nextRef() {
  ++ref_;  // unsigned: the largest value wraps to 0
  return std::to_string(ref_);
}

void RealtimeClient::push(std::string topic, std::string event, JSONObject payload,
                          std::optional<std::string> ref, std::optional<std::string> joinRef) {
  strand_->sync([&] {
    auto send = [weak = weak_from_this(), joinRef, ref, topic = std::move(topic),
                 event = std::move(event), payload = std::move(payload)] {
      const auto self = weak.lock();
      return self ? self->sendFrame(joinRef, ref, topic, event, payload) : AfterCall{};
    };
    // A send that a disconnect overtakes waits for the next connection, as if that had come
    // first.
    if (connection_ && connection_->readyState() == PhoenixTransportReadyState::open) {
      if (const auto sent = send(); sent || sent.released) return;
    }
    sendBuffer_.push_back(BufferedSend{std::move(ref), std::move(send)});
  });
}

RealtimeClient::AfterCall RealtimeClient::sendFrame(const std::optional<std::string>& joinRef,
                                                    const std::optional<std::string>& ref,
                                                    const std::string& topic,
                                                    const std::string& event,
                                                    const JSONObject& payload) {
  if (closed_) return {};  // its encoder and logger are the caller's
  Data frame;
  std::optional<std::string> failure;
  const Encode encode = encode_;  // it may replace itself
  const auto encoded = callOut([&] {
    try {
      frame = encodeArrayFrame(joinRef, ref, topic, event, payload, encode);
    } catch (const std::exception& error) {
      failure = error.what();
    }
  });
  if (!encoded) return encoded;
  if (failure) {
    // A payload without a JSON form (NaN) is dropped rather than sent half-written.
    logItems({"push", std::string("Unable to encode ") + event + ": " + *failure});
    return {};
  }
  // Joins and token updates carry the access token.
  const auto logged = logItems([&] {
    return std::vector<std::string>{"push", "Sending " + voduzazi::detail::frameText(frame)};
  });
  const auto connection = connection_;
  if (!logged || !connection) return logged;
  // The transport is the caller's: held across its call, which may disconnect or release the
  // client. The frame went out either way; only a release ends the work that sent it.
  return {.released = callOut([&] { connection->send(frame); }).released};
}

RealtimeClient::AfterCall RealtimeClient::flushSendBuffer() {
  if (!connection_ || connection_->readyState() != PhoenixTransportReadyState::open) return {};
  // Taken out first: a send may buffer again (the connection dropping meanwhile).
  auto buffered = std::exchange(sendBuffer_, {});
  for (auto next = buffered.begin(); next != buffered.end(); ++next) {
    const auto sent = next->send();
    if (sent) continue;
    if (!sent.released) sendBuffer_.insert(sendBuffer_.begin(), next, buffered.end());
    return sent;
  }
  return {};
}

void RealtimeClient::removeFromSendBuffer(const std::string& ref) {
  strand_->sync([&] {
    std::erase_if(sendBuffer_, [&](const BufferedSend& entry) { return entry.ref == ref; });
  });
}

std::vector<std::string> RealtimeClient::sendBufferRefs() const {
  return strand_->call([&] {
    std::vector<std::string> refs;
    for (const auto& entry : sendBuffer_) refs.push_back(entry.ref.value_or(""));
    return refs;
  });
}

void RealtimeClient::stopHeartbeat() {
  if (heartbeatTimer_) heartbeatTimer_->stop();
}

void RealtimeClient::resetHeartbeat() {
  pendingHeartbeatRef_.reset();
  stopHeartbeat();
  if (skipHeartbeat_) return;
  heartbeatTimer_ = std::make_unique<HeartbeatTimer>(heartbeatInterval_, heartbeatLeeway_,
                                                     heartbeatQueue_, timerQueue_);
  heartbeatTimer_->start([weak = weak_from_this()] {
    if (const auto self = weak.lock()) self->strand_->sync([&] { self->sendHeartbeat(); });
  });
}

void RealtimeClient::sendHeartbeat() {
  if (!connection_ || connection_->readyState() != PhoenixTransportReadyState::open) return;
  if (!pendingHeartbeatRef_) {
    pendingHeartbeatRef_ = nextRef();
    push("phoenix", std::string(ChannelEvent::heartbeat), {}, pendingHeartbeatRef_);
    return;
  }
  // The last heartbeat went unanswered for a whole period: the connection is dead.
  pendingHeartbeatRef_.reset();
  if (!logItems({"transport", "heartbeat timeout. Attempting to re-establish connection"})) {
    return;
  }
  closeStatus_ = CloseStatus::abnormal;
  const auto connection = connection_;  // held across the caller's call, as in sendFrame
  connection->disconnect(static_cast<int>(CloseCode::normal), "heartbeat timeout");
}

void RealtimeClient::onConnMessage(const PhoenixTransport* source, const std::string& rawMessage) {
  if (source != connection_.get()) return;
  // A frame of a connection torn down or replaced meanwhile is ignored, as its later reports are.
  const auto logged = logItems([&] {
    return std::vector<std::string>{"receive ", voduzazi::detail::frameText(rawMessage)};
  });
  if (!logged) return;
  std::optional<RealtimeMessage> message;
  const Decode decode = decode_;  // it may replace itself
  if (!callOut([&] { message = decodeArrayFrame(rawMessage, decode); })) return;
  if (!message) {
    logItems([&] {
      return std::vector<std::string>{"receive: Unable to parse JSON: " +
                                      voduzazi::detail::frameText(rawMessage)};
    });
    return;
  }
  if (pendingHeartbeatRef_ && *pendingHeartbeatRef_ == message->ref) pendingHeartbeatRef_.reset();
  if (message->event == ChannelEvent::close) std::printf("Close Event Received\n");

  std::vector<std::shared_ptr<RealtimeChannel>> members;
  const auto channels = channels_;  // the logger may change the list
  for (const auto& channel : channels) {
    if (channel->topic() != message->topic) continue;
    const auto joinRef = channel->joinRef();
    if (!message->joinRef || (joinRef && joinRef == message->joinRef) ||
        !isLifecycleEvent(message->event)) {
      members.push_back(channel);
      continue;
    }
    const auto logged = logItems([&] {
      return std::vector<std::string>{
          "channel",
          "dropping outdated message",
          message->topic,
          message->event,
          AnyJSON(voduzazi::detail::redactedObject(message->rawPayload)).description(),
          *message->joinRef};
    });
    if (!logged) return;
  }
  // The channels and the message callbacks hear it in turn; only a release stops that.
  for (const auto& channel : members) {
    if (callOut([&] { channel->trigger(*message); }).released) return;
  }
  callEach(stateChangeCallbacks_.message, *message);
}

void RealtimeClient::triggerChanError() {
  const auto channels = channels_;
  for (const auto& channel : channels) {
    const auto state = channel->state();
    if (state == ChannelState::errored || state == ChannelState::leaving ||
        state == ChannelState::closed) {
      continue;
    }
    // Carries the join reference as its own reference too, so that the channel's check of
    // lifecycle messages lets it through.
    const auto joinRef = channel->joinRef();
    const RealtimeMessage error{
        joinRef.value_or(""), joinRef, channel->topic(), std::string(ChannelEvent::error), {}};
    if (callOut([&] { channel->trigger(error); }).released) return;
  }
}

void RealtimeClient::leaveOpenTopic(const std::string& topic, const RealtimeChannel* except) {
  strand_->sync([&] {
    const auto found = std::find_if(channels_.begin(), channels_.end(), [&](const auto& channel) {
      return channel.get() != except && channel->topic() == topic &&
             (channel->isJoined() || channel->isJoining());
    });
    if (found == channels_.end()) return;
    const auto channel = *found;
    if (logItems({"transport", "leaving duplicate topic: [" + topic + "]"}).released) return;
    channel->unsubscribe(10.0);
  });
}

void RealtimeClient::setAuth(std::optional<std::string> token) {
  strand_->sync([&] {
    accessToken_ = token;
    const auto channels = channels_;
    for (const auto& channel : channels) {
      if (token) channel->setUserToken(*token);
      if (!channel->joinedOnce() || !channel->isJoined()) continue;
      const auto pushed = callOut([&] {
        channel->push(std::string(ChannelEvent::accessToken),
                      JSONObject{{"access_token", token ? AnyJSON(*token) : AnyJSON(nullptr)}},
                      10.0);
      });
      if (pushed.released) return;
    }
  });
}

std::shared_ptr<RealtimeChannel> RealtimeClient::channel(const std::string& name,
                                                         const RealtimeChannelOptions& options) {
  return strand_->call([&] {
    auto channel = RealtimeChannel::make("realtime:" + name, options.params(), shared_from_this());
    channels_.push_back(channel);
    return channel;
  });
}

std::vector<std::shared_ptr<RealtimeChannel>> RealtimeClient::channels() const {
  return strand_->call([&] { return channels_; });
}

void RealtimeClient::remove(const std::shared_ptr<RealtimeChannel>& channel) {
  strand_->sync([&] { removeNow(channel); });
}

void RealtimeClient::removeAllChannels() {
  strand_->sync([&] {
    const auto channels = channels_;
    for (const auto& channel : channels) {
      if (callOut([&] { removeNow(channel); }).released) return;
    }
  });
}

void RealtimeClient::removeNow(const std::shared_ptr<RealtimeChannel>& channel) {
  // A channel removed before closes later (its leave answered or timed out): nothing is left to
  // do, and above all no second teardown.
  if (std::find(channels_.begin(), channels_.end(), channel) == channels_.end()) return;
  // A channel that closed (or is leaving) has left already: a second leave would only close it
  // again, and this removal with it.
  if (!channel->isClosed() && !channel->isLeaving()) channel->unsubscribe(10.0);
  // A leave that could not reach the server closed the channel at once, and its close removed
  // it already (and tore the connection down after the last one): done.
  if (std::find(channels_.begin(), channels_.end(), channel) == channels_.end()) return;
  off(channel->stateChangeRefs());
  // By identity: channels that never joined share an absent join reference.
  std::erase(channels_, channel);
  if (channels_.empty()) {
    closeStatus_ = CloseStatus::clean;
    cancelReconnect();
    teardown(CloseCode::normal, std::nullopt);
  }
}

}  // namespace voduzazi::realtime
