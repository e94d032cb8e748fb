// What a second-generation channel asks for when it joins ("phx_join"): broadcast and presence
// settings, its postgres-change subscriptions and privacy, with the access token and version, and
// how the server's confirmed subscriptions are matched to the channel's own.
//
//   RealtimeJoinConfig config{{.acknowledgeBroadcasts = true}, {}, {}, false};
//   config.postgresChanges.push_back({PostgresChangeEvent::insert, "public", "messages"});
//   JSONObject payload = RealtimeJoinPayload{config, token, "realtime-cpp/2.33.2"}.toJSONObject();
//   bool wanted = matches(config.postgresChanges[0], serverChange);   // ids take no part
#pragma once

#include <boost/json/value.hpp>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/json_coders.hpp"

namespace voduzazi::realtime {

enum class PostgresChangeEvent { insert, update, delete_, all };
// "INSERT", "UPDATE", "DELETE", "*".
std::string_view toString(PostgresChangeEvent event);
// Exactly one of the four texts (letter case matters).
bool fromString(std::string_view text, PostgresChangeEvent& event);

// A value type. Equality and hashing take every field but `id`.
struct PostgresJoinConfig {
  std::optional<PostgresChangeEvent> event;
  std::string schema;
  std::optional<std::string> table;
  std::optional<std::string> filter;
  std::int64_t id = 0;  // assigned by the server; 0 in the channel's own entries

  // "event" always (null when absent), "schema", then "table", "filter" and a non-zero "id" when
  // present.
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  // "schema" and "id" are required; throws DecodingError.
  static PostgresJoinConfig fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                     const CodingPath& path = {});

  friend bool operator==(const PostgresJoinConfig& left, const PostgresJoinConfig& right) {
    return left.event == right.event && left.schema == right.schema && left.table == right.table &&
           left.filter == right.filter;
  }
  std::size_t hashValue() const;
};

// Whether a server-confirmed subscription serves a channel's own: same schema, table and row
// filter, and the same event or the server's "*". One-sided: an "*" filter needs an "*" server
// entry.
bool matches(const PostgresJoinConfig& filter, const PostgresJoinConfig& serverChange);

struct BroadcastJoinConfig {
  bool acknowledgeBroadcasts = false;  // "ack"
  bool receiveOwnBroadcasts = false;   // "self"

  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static BroadcastJoinConfig fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                      const CodingPath& path = {});
  friend bool operator==(const BroadcastJoinConfig&, const BroadcastJoinConfig&) = default;
};

struct PresenceJoinConfig {
  std::string key;
  bool enabled = false;

  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static PresenceJoinConfig fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                     const CodingPath& path = {});
  friend bool operator==(const PresenceJoinConfig&, const PresenceJoinConfig&) = default;
};

// A channel's join settings, chosen when the channel is made.
struct RealtimeChannelConfig {
  BroadcastJoinConfig broadcast;
  PresenceJoinConfig presence;  // `enabled` is set before each join
  bool isPrivate = false;
  friend bool operator==(const RealtimeChannelConfig&, const RealtimeChannelConfig&) = default;
};

struct RealtimeJoinConfig {
  BroadcastJoinConfig broadcast;
  PresenceJoinConfig presence;
  std::vector<PostgresJoinConfig> postgresChanges;  // "postgres_changes"
  bool isPrivate = false;                           // "private"

  // Every member always written: "broadcast", "presence", "private", "postgres_changes".
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static RealtimeJoinConfig fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                     const CodingPath& path = {});
  std::string description() const;

  friend bool operator==(const RealtimeJoinConfig&, const RealtimeJoinConfig&) = default;
  std::size_t hashValue() const;
};

struct RealtimeJoinPayload {
  RealtimeJoinConfig config;
  std::optional<std::string> accessToken;  // "access_token", left out when absent
  std::optional<std::string> version;      // left out when absent

  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static RealtimeJoinPayload fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                      const CodingPath& path = {});
  // The payload of the join message.
  JSONObject toJSONObject() const;
};

}  // namespace voduzazi::realtime

template <>
struct std::hash<voduzazi::realtime::PostgresJoinConfig> {
  std::size_t operator()(const voduzazi::realtime::PostgresJoinConfig& config) const {
    return config.hashValue();
  }
};
template <>
struct std::hash<voduzazi::realtime::RealtimeJoinConfig> {
  std::size_t operator()(const voduzazi::realtime::RealtimeJoinConfig& config) const {
    return config.hashValue();
  }
};
