// The older client's channel states and the event names of its protocol.
//
//   std::optional<ChannelState> state = channelStateFromString("joined");   // ChannelState::joined
//   send(topic, ChannelEvent::join, payload);                               // "phx_join"
#pragma once

#include <optional>
#include <string_view>

namespace voduzazi::realtime {

// Declaration order is the numeric tag and nothing else.
enum class ChannelState { closed, errored, joined, joining, leaving };

// The raw text is the case name.
std::string_view toString(ChannelState state);
// Exact and letter-case sensitive: "Joined" gives nothing.
std::optional<ChannelState> channelStateFromString(std::string_view text);

namespace ChannelEvent {
inline constexpr std::string_view heartbeat = "heartbeat";
inline constexpr std::string_view join = "phx_join";
inline constexpr std::string_view leave = "phx_leave";
inline constexpr std::string_view reply = "phx_reply";
inline constexpr std::string_view error = "phx_error";
inline constexpr std::string_view close = "phx_close";
inline constexpr std::string_view system = "system";
inline constexpr std::string_view broadcast = "broadcast";
inline constexpr std::string_view accessToken = "access_token";
inline constexpr std::string_view presence = "presence";
inline constexpr std::string_view presenceDiff = "presence_diff";
inline constexpr std::string_view presenceState = "presence_state";
inline constexpr std::string_view postgresChanges = "postgres_changes";
}  // namespace ChannelEvent

}  // namespace voduzazi::realtime
