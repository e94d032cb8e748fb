#include "voduzazi/realtime/realtime_message_v2.hpp"

#include <array>
#include <boost/container_hash/hash.hpp>
#include <boost/json/object.hpp>
#include <utility>

#include "voduzazi/helpers/keyed_coding.hpp"
#include "voduzazi/realtime/detail/frame_json.hpp"

namespace voduzazi::realtime {

namespace {

using EventType = RealtimeMessageV2::EventType;

constexpr std::array<std::pair<std::string_view, EventType>, 8> kEventTypes{{
    {"system", EventType::system},
    {"postgres_changes", EventType::postgresChanges},
    {"broadcast", EventType::broadcast},
    {"phx_close", EventType::close},
    {"phx_error", EventType::error},
    {"presence_diff", EventType::presenceDiff},
    {"presence_state", EventType::presenceState},
    {"phx_reply", EventType::reply},
}};

void hashOptional(std::size_t& seed, const std::optional<std::string>& text) {
  boost::hash_combine(seed, text.has_value());
  if (text) boost::hash_combine(seed, *text);
}

}  // namespace

std::optional<EventType> RealtimeMessageV2::eventType() const {
  for (const auto& [name, type] : kEventTypes) {
    if (name == event) return type;
  }
  return std::nullopt;
}

std::optional<PushStatus> RealtimeMessageV2::status() const {
  const auto found = payload.find("status");
  if (found == payload.end()) return std::nullopt;
  const std::string* text = found->second.stringValue();
  return text ? pushStatusFromString(*text) : std::nullopt;
}

boost::json::value RealtimeMessageV2::toJSON() const {
  boost::json::object object;
  if (joinRef) object["join_ref"] = *joinRef;
  if (ref) object["ref"] = *ref;
  object["topic"] = topic;
  object["event"] = event;
  object["payload"] = AnyJSON(payload).toJSON();
  return object;
}

RealtimeMessageV2 RealtimeMessageV2::fromJSON(const boost::json::value& json) {
  const JSONDecoder plain;
  KeyedDecoder in(json, plain, {});
  RealtimeMessageV2 message;
  message.joinRef = in.decodeIfPresent<std::string>("join_ref");
  message.ref = in.decodeIfPresent<std::string>("ref");
  message.topic = in.decode<std::string>("topic");
  message.event = in.decode<std::string>("event");
  message.payload = in.decode<JSONObject>("payload");
  return message;
}

std::string RealtimeMessageV2::description() const {
  return "RealtimeMessageV2(joinRef: " + joinRef.value_or("nil") + ", ref: " + ref.value_or("nil") +
         ", topic: " + topic + ", event: " + event +
         ", payload: " + AnyJSON(payload).description() + ")";
}

std::size_t RealtimeMessageV2::hashValue() const {
  std::size_t seed = 0;
  hashOptional(seed, joinRef);
  hashOptional(seed, ref);
  boost::hash_combine(seed, topic);
  boost::hash_combine(seed, event);
  boost::hash_combine(seed, AnyJSON(payload).hashValue());
  return seed;
}

Data encodeObjectFrame(const RealtimeMessageV2& message) {
  return JSONEncoder().write(message.toJSON());
}

RealtimeMessageV2 decodeObjectFrame(std::string_view text) {
  boost::system::error_code error;
  auto json = detail::parseFrameJSON(text, error);
  if (error) {
    throw DecodingError(DecodingError::Kind::dataCorrupted, {},
                        "The given data was not valid JSON.");
  }
  return RealtimeMessageV2::fromJSON(json);
}

}  // namespace voduzazi::realtime
