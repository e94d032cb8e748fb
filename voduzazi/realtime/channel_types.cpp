#include "voduzazi/realtime/channel_types.hpp"

namespace voduzazi::realtime {

std::string_view toString(RealtimeListenTypes type) {
  switch (type) {
    case RealtimeListenTypes::postgresChanges:
      return "postgres_changes";
    case RealtimeListenTypes::broadcast:
      return "broadcast";
    case RealtimeListenTypes::presence:
      return "presence";
  }
  return "";
}

std::optional<RealtimeListenTypes> realtimeListenTypeFromString(std::string_view text) {
  for (auto type : {RealtimeListenTypes::postgresChanges, RealtimeListenTypes::broadcast,
                    RealtimeListenTypes::presence}) {
    if (toString(type) == text) return type;
  }
  return std::nullopt;
}

FilterDictionary ChannelFilter::dictionary() const {
  FilterDictionary result;
  auto add = [&](const char* key, const std::optional<std::string>& value) {
    if (value) result.emplace(key, *value);
  };
  add("event", event);
  add("schema", schema);
  add("table", table);
  add("filter", filter);
  return result;
}

JSONObject RealtimeChannelOptions::params() const {
  return JSONObject{
      {"config", JSONObject{{"presence", JSONObject{{"key", presenceKey.value_or("")}}},
                            {"broadcast",
                             JSONObject{{"ack", broadcastAcknowledge}, {"self", broadcastSelf}}}}}};
}

}  // namespace voduzazi::realtime
