// What a RealtimeChannelV2 does with each frame of its topic.
#include "voduzazi/helpers/keyed_coding.hpp"
#include "voduzazi/realtime/detail/log.hpp"
#include "voduzazi/realtime/realtime_channel_v2.hpp"

namespace voduzazi::realtime {

namespace {

using EventType = RealtimeMessageV2::EventType;

const AnyJSON* member(const JSONObject& object, std::string_view key) {
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &found->second;
}

// A diff's "joins" or "leaves": none when missing; an object, or a DecodingError.
Presences presencesIn(const JSONObject& payload, std::string_view key) {
  const AnyJSON* entries = member(payload, key);
  if (entries == nullptr) return {};
  const JSONObject* object = entries->objectValue();
  if (object == nullptr) {
    throw DecodingError(DecodingError::Kind::typeMismatch, {std::string(key)},
                        "Expected to decode Dictionary<String, PresenceV2>.");
  }
  return decodePresences(*object);
}

// Only a reply's own three texts count; anything else is no success.
PushStatus replyStatus(const std::string& text) {
  return pushStatusFromString(text).value_or(PushStatus::error);
}

}  // namespace

void RealtimeChannelV2::onMessage(const RealtimeMessageV2& message) {
  const auto type = message.eventType();
  if (!type) {
    detail::logDebug(logger_, [&] {
      return "Received message without event type: " + detail::loggedDescription(message);
    });
    return;
  }
  try {
    switch (*type) {
      case EventType::system:
        return onSystemMessage(message);
      case EventType::postgresChanges:
        return onPostgresChanges(message);
      case EventType::broadcast:
        return onBroadcastMessage(message);
      case EventType::close:
        return onClose(message);
      case EventType::error:
        detail::logError(logger_, [&] {
          return "Received an error in channel " + message.topic +
                 ". That could be as a result of an invalid access token";
        });
        return;
      case EventType::presenceDiff:
        return onPresence(message, true);
      case EventType::presenceState:
        return onPresence(message, false);
      case EventType::tokenExpired:
        return;
      case EventType::reply:
        return onReply(message);
    }
  } catch (const std::exception& error) {
    detail::logDebug(logger_, [&] { return std::string("Failed: ") + error.what(); });
  }
}

void RealtimeChannelV2::onSystemMessage(const RealtimeMessageV2& message) {
  if (message.status() == PushStatus::ok) {
    detail::logDebug(logger_, [&] { return "Subscribed to channel " + message.topic; });
    setStatus(RealtimeChannelStatus::subscribed);
  } else {
    detail::logDebug(logger_, [&] {
      return "Failed to subscribe to channel " + message.topic + ": " +
             AnyJSON(message.payload).description();
    });
  }
  callbackManager_->triggerSystem(message);
}

void RealtimeChannelV2::onPostgresChanges(const RealtimeMessageV2& message) {
  const AnyJSON* data = member(message.payload, "data");
  if (data == nullptr) {
    detail::logDebug(logger_, [] { return "Expected \"data\" key in message payload."; });
    return;
  }
  std::vector<std::int64_t> ids;
  if (const AnyJSON* given = member(message.payload, "ids")) {
    if (const JSONArray* list = given->arrayValue()) {
      for (const AnyJSON& id : *list) {
        if (const auto value = id.intValue()) ids.push_back(*value);
      }
    }
  }
  callbackManager_->triggerPostgresChanges(ids, makePostgresAction(*data, message));
}

void RealtimeChannelV2::onBroadcastMessage(const RealtimeMessageV2& message) {
  const AnyJSON* event = member(message.payload, "event");
  if (event == nullptr || event->stringValue() == nullptr) {
    throw RealtimeError("Expected 'event' key in 'payload' for broadcast event.");
  }
  callbackManager_->triggerBroadcast(*event->stringValue(), message.payload);
}

void RealtimeChannelV2::onClose(const RealtimeMessageV2& message) {
  {
    std::lock_guard lock(mutex_);
    // The close of a join this channel has since replaced (it left and joined again) is old news.
    if (message.joinRef && state_.joinRef && message.joinRef != state_.joinRef) return;
  }
  if (const auto client = this->client()) client->remove(*this);
  detail::logDebug(logger_, [&] { return "Unsubscribed from channel " + message.topic; });
  setStatus(RealtimeChannelStatus::unsubscribed);
}

void RealtimeChannelV2::onPresence(const RealtimeMessageV2& message, bool diff) {
  if (diff) {
    callbackManager_->triggerPresenceDiff(presencesIn(message.payload, "joins"),
                                          presencesIn(message.payload, "leaves"), message);
  } else {
    callbackManager_->triggerPresenceDiff(decodePresences(message.payload), {}, message);
  }
}

void RealtimeChannelV2::onReply(const RealtimeMessageV2& message) {
  const AnyJSON* replied = member(message.payload, "status");
  if (!message.ref || replied == nullptr || replied->stringValue() == nullptr) {
    throw RealtimeError("Received a reply with unexpected payload: " + message.description());
  }
  std::shared_ptr<PushV2> push;
  {
    std::lock_guard lock(mutex_);
    if (auto found = state_.pushes.find(*message.ref); found != state_.pushes.end()) {
      push = std::move(found->second);
      state_.pushes.erase(found);
    }
  }
  if (push) push->didReceive(replyStatus(*replied->stringValue()));
  const AnyJSON* response = member(message.payload, "response");
  const JSONObject* object = response ? response->objectValue() : nullptr;
  const AnyJSON* changes = object ? member(*object, "postgres_changes") : nullptr;
  if (changes == nullptr) return;
  std::vector<PostgresJoinConfig> confirmed;
  try {
    confirmed = decodeValue<std::vector<PostgresJoinConfig>>(changes->toJSON(), *AnyJSON::decoder(),
                                                             {"response", "postgres_changes"});
  } catch (const DecodingError& error) {
    detail::logDebug(logger_, [&] { return std::string("Failed: ") + error.what(); });
    return;
  }
  callbackManager_->setServerChanges(std::move(confirmed));
  if (status() != RealtimeChannelStatus::subscribed) {
    setStatus(RealtimeChannelStatus::subscribed);
    detail::logDebug(logger_, [&] { return "Subscribed to channel " + message.topic; });
  }
}

}  // namespace voduzazi::realtime
