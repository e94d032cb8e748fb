// RealtimeMessageV2: one frame of the second-generation realtime protocol, a JSON object
// {"join_ref", "ref", "topic", "event", "payload"}, with its event classification and reply status.
//
//   RealtimeMessageV2 message = decodeObjectFrame(text);     // throws DecodingError
//   if (message.eventType() == RealtimeMessageV2::EventType::reply) {
//     if (message.status() == PushStatus::ok) done(*message.ref);
//   }
//   Data frame = encodeObjectFrame({std::nullopt, "1", "phoenix", "heartbeat", {}});
#pragma once

#include <boost/json/value.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/data.hpp"
#include "voduzazi/realtime/push_status.hpp"

namespace voduzazi::realtime {

// A value type.
struct RealtimeMessageV2 {
  enum class EventType {
    system,
    postgresChanges,
    broadcast,
    close,
    error,
    presenceDiff,
    presenceState,
    tokenExpired,  // never produced from an event name
    reply,
  };

  std::optional<std::string> joinRef;
  std::optional<std::string> ref;
  std::string topic;
  std::string event;
  JSONObject payload;

  // The class of `event` (exact names: "system", "postgres_changes", "broadcast", "phx_close",
  // "phx_error", "presence_diff", "presence_state", "phx_reply"); nothing for any other name.
  std::optional<EventType> eventType() const;
  // The payload's "status" when it is a string naming a status.
  std::optional<PushStatus> status() const;
  const RealtimeMessageV2& rawMessage() const { return *this; }

  // Absent references are left out, never null.
  boost::json::value toJSON() const;
  // Requires a JSON object: "join_ref" and "ref" absent, null or strings; "topic" and "event"
  // strings; "payload" an object. Other members are ignored. Throws DecodingError naming the key.
  static RealtimeMessageV2 fromJSON(const boost::json::value& json);

  // Readable text for logs.
  std::string description() const;

  friend bool operator==(const RealtimeMessageV2&, const RealtimeMessageV2&) = default;
  std::size_t hashValue() const;
};

// The frame's text as sent: compact JSON with the members in declared order.
Data encodeObjectFrame(const RealtimeMessageV2& message);
// The message in a received text frame; throws DecodingError for text that is not JSON or not a
// frame.
RealtimeMessageV2 decodeObjectFrame(std::string_view text);

}  // namespace voduzazi::realtime

template <>
struct std::hash<voduzazi::realtime::RealtimeMessageV2> {
  std::size_t operator()(const voduzazi::realtime::RealtimeMessageV2& message) const {
    return message.hashValue();
  }
};
