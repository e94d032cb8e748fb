#include "voduzazi/realtime/join_config.hpp"

#include <array>
#include <boost/container_hash/hash.hpp>
#include <boost/json/object.hpp>
#include <utility>

#include "voduzazi/helpers/keyed_coding.hpp"

namespace voduzazi::realtime {

namespace {

constexpr std::array<std::pair<PostgresChangeEvent, std::string_view>, 4> kEvents{{
    {PostgresChangeEvent::insert, "INSERT"},
    {PostgresChangeEvent::update, "UPDATE"},
    {PostgresChangeEvent::delete_, "DELETE"},
    {PostgresChangeEvent::all, "*"},
}};

template <class T>
void hashOptional(std::size_t& seed, const std::optional<T>& value) {
  boost::hash_combine(seed, value.has_value());
  if (value) boost::hash_combine(seed, *value);
}

std::string yesNo(bool value) { return value ? "true" : "false"; }

}  // namespace

std::string_view toString(PostgresChangeEvent event) {
  for (const auto& [candidate, text] : kEvents) {
    if (candidate == event) return text;
  }
  return "*";
}

bool fromString(std::string_view text, PostgresChangeEvent& event) {
  for (const auto& [candidate, raw] : kEvents) {
    if (raw == text) {
      event = candidate;
      return true;
    }
  }
  return false;
}

boost::json::value PostgresJoinConfig::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  if (event) {
    out.encode("event", *event);
  } else {
    out.encode("event", AnyJSON());  // written as null, never left out
  }
  out.encode("schema", schema);
  out.encodeIfPresent("table", table);
  out.encodeIfPresent("filter", filter);
  if (id != 0) out.encode("id", id);
  return std::move(out).json();
}

PostgresJoinConfig PostgresJoinConfig::fromJSON(const boost::json::value& json,
                                                const JSONDecoder& decoder,
                                                const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  PostgresJoinConfig config;
  config.event = in.decodeIfPresent<PostgresChangeEvent>("event");
  config.schema = in.decode<std::string>("schema");
  config.table = in.decodeIfPresent<std::string>("table");
  config.filter = in.decodeIfPresent<std::string>("filter");
  config.id = in.decode<std::int64_t>("id");
  return config;
}

std::size_t PostgresJoinConfig::hashValue() const {
  std::size_t seed = 0;
  boost::hash_combine(seed, schema);
  hashOptional(seed, table);
  hashOptional(seed, filter);
  boost::hash_combine(seed, event.has_value());
  if (event) boost::hash_combine(seed, std::string(toString(*event)));
  return seed;
}

bool matches(const PostgresJoinConfig& filter, const PostgresJoinConfig& serverChange) {
  return filter.schema == serverChange.schema && filter.table == serverChange.table &&
         filter.filter == serverChange.filter &&
         (filter.event == serverChange.event || serverChange.event == PostgresChangeEvent::all);
}

boost::json::value BroadcastJoinConfig::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("ack", acknowledgeBroadcasts);
  out.encode("self", receiveOwnBroadcasts);
  return std::move(out).json();
}

BroadcastJoinConfig BroadcastJoinConfig::fromJSON(const boost::json::value& json,
                                                  const JSONDecoder& decoder,
                                                  const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decode<bool>("ack"), in.decode<bool>("self")};
}

boost::json::value PresenceJoinConfig::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("key", key);
  out.encode("enabled", enabled);
  return std::move(out).json();
}

PresenceJoinConfig PresenceJoinConfig::fromJSON(const boost::json::value& json,
                                                const JSONDecoder& decoder,
                                                const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decode<std::string>("key"), in.decode<bool>("enabled")};
}

boost::json::value RealtimeJoinConfig::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("broadcast", broadcast);
  out.encode("presence", presence);
  out.encode("private", isPrivate);
  out.encode("postgres_changes", postgresChanges);
  return std::move(out).json();
}

RealtimeJoinConfig RealtimeJoinConfig::fromJSON(const boost::json::value& json,
                                                const JSONDecoder& decoder,
                                                const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  RealtimeJoinConfig config;
  config.broadcast = in.decode<BroadcastJoinConfig>("broadcast");
  config.presence = in.decode<PresenceJoinConfig>("presence");
  config.isPrivate = in.decode<bool>("private");
  config.postgresChanges = in.decode<std::vector<PostgresJoinConfig>>("postgres_changes");
  return config;
}

std::string RealtimeJoinConfig::description() const {
  std::string changes;
  for (const auto& change : postgresChanges) {
    changes += (changes.empty() ? "" : ", ");
    changes += std::string(change.event ? toString(*change.event) : "nil") + " " + change.schema +
               "." + change.table.value_or("*") + (change.filter ? " " + *change.filter : "");
  }
  return "broadcast(ack: " + yesNo(broadcast.acknowledgeBroadcasts) +
         ", self: " + yesNo(broadcast.receiveOwnBroadcasts) + "), presence(key: " + presence.key +
         ", enabled: " + yesNo(presence.enabled) + "), postgres_changes[" + changes +
         "], private: " + yesNo(isPrivate);
}

std::size_t RealtimeJoinConfig::hashValue() const {
  std::size_t seed = 0;
  boost::hash_combine(seed, broadcast.acknowledgeBroadcasts);
  boost::hash_combine(seed, broadcast.receiveOwnBroadcasts);
  boost::hash_combine(seed, presence.key);
  boost::hash_combine(seed, presence.enabled);
  boost::hash_combine(seed, postgresChanges.size());
  for (const auto& change : postgresChanges) boost::hash_combine(seed, change.hashValue());
  boost::hash_combine(seed, isPrivate);
  return seed;
}

boost::json::value RealtimeJoinPayload::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("config", config);
  out.encodeIfPresent("access_token", accessToken);
  out.encodeIfPresent("version", version);
  return std::move(out).json();
}

RealtimeJoinPayload RealtimeJoinPayload::fromJSON(const boost::json::value& json,
                                                  const JSONDecoder& decoder,
                                                  const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decode<RealtimeJoinConfig>("config"), in.decodeIfPresent<std::string>("access_token"),
          in.decodeIfPresent<std::string>("version")};
}

JSONObject RealtimeJoinPayload::toJSONObject() const {
  return *AnyJSON::fromJSON(toJSON(JSONEncoder())).objectValue();
}

}  // namespace voduzazi::realtime
