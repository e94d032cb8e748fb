// The values a caller of an older realtime channel works with: listen types, filters, channel
// options, subscribe states, send results and bindings (the channel's error is RealtimeError).
//
//   auto options = RealtimeChannelOptions{.presenceKey = "ada", .broadcastSelf = true};
//   auto channel = client->channel("room", options);
//   channel->on("postgres_changes", ChannelFilter{.event = "INSERT", .table = "messages"},
//               [](const RealtimeMessage& change) { show(change.payload()); });
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/realtime/delegated.hpp"
#include "voduzazi/realtime/realtime_error.hpp"
#include "voduzazi/realtime/realtime_message.hpp"

namespace voduzazi::realtime {

enum class RealtimeListenTypes { postgresChanges, broadcast, presence };

// "postgres_changes", "broadcast", "presence".
std::string_view toString(RealtimeListenTypes type);
// Exact, letter case included; nothing for any other text.
std::optional<RealtimeListenTypes> realtimeListenTypeFromString(std::string_view text);

using FilterDictionary = std::map<std::string, std::string>;

struct ChannelFilter {
  std::optional<std::string> event{};
  std::optional<std::string> schema{};
  std::optional<std::string> table{};
  std::optional<std::string> filter{};

  // The present members under "event", "schema", "table" and "filter".
  FilterDictionary dictionary() const;
  friend bool operator==(const ChannelFilter&, const ChannelFilter&) = default;
};

struct RealtimeChannelOptions {
  std::optional<std::string> presenceKey{};
  bool broadcastSelf = false;
  bool broadcastAcknowledge = false;

  // {"config": {"presence": {"key": presenceKey or ""}, "broadcast": {"ack", "self"}}}.
  JSONObject params() const;
};

enum class RealtimeSubscribeStates { subscribed, timedOut, closed, channelError };
enum class ChannelResponse { ok, timedOut, error };

// One handler of a channel, under the lowercased event it was registered for.
struct Binding {
  std::string type;
  FilterDictionary filter;
  Delegated<RealtimeMessage, void> callback;
  std::optional<std::string> id;  // the server's identifier of a postgres-change binding
};

}  // namespace voduzazi::realtime
