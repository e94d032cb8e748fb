// The facade's second-generation realtime client and the channel operations it forwards.
#include "voduzazi/client/detail/client_core.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/issue_reporting/report_issue.hpp"

namespace voduzazi {
namespace {

constexpr std::string_view customRealtimeTokenFunction =
    "You assigned a custom `accessToken` closure to the RealtimeClientV2. This might not work as "
    "you expect\n"
    "as VoduzaziClient uses Auth for pulling an access token to send on the realtime channels.\n"
    "\n"
    "Please make sure you know what you're doing.";

}  // namespace

std::shared_ptr<realtime::RealtimeClientV2> VoduzaziClient::Core::realtimeV2() {
  return mutableState.withValue([&](MutableState& state) {
    if (state.realtime) return state.realtime;
    realtime::RealtimeClientOptions realtimeOptions = options.realtime;
    merge(realtimeOptions.headers, headers);
    // It calls these from tasks of its own, hence the gate in front of each.
    realtimeOptions.logger = realtimeOptions.logger
                                 ? detail::gatedLogger(gate, std::move(realtimeOptions.logger))
                                 : gatedLogger;
    if (realtimeOptions.fetch) {
      realtimeOptions.fetch = detail::gatedFetch(gate, std::move(realtimeOptions.fetch));
    }
    if (realtimeOptions.accessToken) {
      reportIssue(std::string(customRealtimeTokenFunction));
      realtimeOptions.accessToken = [gate = gate, own = std::move(realtimeOptions.accessToken)] {
        const auto pass = gate->enter();
        if (!pass) throw CancellationError();
        return own();
      };
    } else {
      realtimeOptions.accessToken = [weak = self, gate = gate]() -> std::optional<std::string> {
        // Declared first so that it ends last: the release, once the gate is idle, finds the
        // facade no longer held here.
        const auto pass = gate->enter();
        if (!pass) throw CancellationError();
        if (const auto core = weak.lock()) return core->currentAccessToken();
        return std::nullopt;
      };
    }
    state.realtime = realtime::RealtimeClientV2::make(realtimeURL, std::move(realtimeOptions));
    return state.realtime;
  });
}

std::shared_ptr<realtime::RealtimeClientV2> VoduzaziClient::realtimeV2() const {
  return core_->realtimeV2();
}

std::vector<std::shared_ptr<realtime::RealtimeChannelV2>> VoduzaziClient::channels() const {
  std::vector<std::shared_ptr<realtime::RealtimeChannelV2>> list;
  for (auto& [topic, channel] : realtimeV2()->channels()) list.push_back(std::move(channel));
  return list;
}

std::shared_ptr<realtime::RealtimeChannelV2> VoduzaziClient::channel(
    std::string_view name,
    const std::function<void(realtime::RealtimeChannelConfig&)>& options) const {
  return realtimeV2()->channel(name, options);
}

void VoduzaziClient::removeChannel(
    const std::shared_ptr<realtime::RealtimeChannelV2>& channel) const {
  realtimeV2()->removeChannel(channel);
}

void VoduzaziClient::removeAllChannels() const { realtimeV2()->removeAllChannels(); }

}  // namespace voduzazi
