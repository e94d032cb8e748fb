#include "voduzazi/realtime/channel_state.hpp"

namespace voduzazi::realtime {

std::string_view toString(ChannelState state) {
  switch (state) {
    case ChannelState::closed:
      return "closed";
    case ChannelState::errored:
      return "errored";
    case ChannelState::joined:
      return "joined";
    case ChannelState::joining:
      return "joining";
    case ChannelState::leaving:
      return "leaving";
  }
  return "closed";
}

std::optional<ChannelState> channelStateFromString(std::string_view text) {
  for (auto state : {ChannelState::closed, ChannelState::errored, ChannelState::joined,
                     ChannelState::joining, ChannelState::leaving}) {
    if (toString(state) == text) return state;
  }
  return std::nullopt;
}

}  // namespace voduzazi::realtime
