#include "voduzazi/auth/dependencies.hpp"
#include "voduzazi/client/detail/client_core.hpp"
#include "voduzazi/realtime/realtime_client.hpp"

namespace voduzazi {

std::optional<std::string> VoduzaziClient::Core::forwardTokenChange(
    auth::AuthChangeEvent event, const std::optional<auth::Session>& session) {
  using auth::AuthChangeEvent;
  return mutableState.withValue([&](MutableState& state) -> std::optional<std::string> {
    const std::optional<std::string> token =
        session ? std::optional<std::string>(session->accessToken) : std::nullopt;
    const bool carriesSession = event == AuthChangeEvent::initialSession ||
                                event == AuthChangeEvent::signedIn ||
                                event == AuthChangeEvent::tokenRefreshed;
    if (carriesSession && token != state.changedAccessToken) {
      state.changedAccessToken = token;
      return token.value_or(voduzaziKey);
    }
    if (event == AuthChangeEvent::signedOut) {
      state.changedAccessToken.reset();
      return voduzaziKey;
    }
    return std::nullopt;
  });
}

void VoduzaziClient::Core::forwardToRealtimeClients(const std::optional<std::string>& token) {
  // The first event builds the second-generation client, whether or not it brings a token.
  const auto realtimeV2 = this->realtimeV2();
  // Nothing means "unchanged", and neither client is told anything: the older one would clear
  // its token and send every joined channel a null token, and the second-generation one would
  // ask the facade's token function, whose read of a session within its refresh margin
  // refreshes it and so brings the next event, and with short tokens the next refresh.
  if (!token) return;
  realtime->setAuth(token);
  realtimeV2->setAuth(token);
}

namespace detail {

bool isPartOfBackgroundWork(const VoduzaziClient::Core& core) {
  // This thread runs that work (the auth-event task itself, or a refresh in the transport).
  if (core.gate->isPassingOnThisThread()) return true;
  // Work under way elsewhere may be waiting for this thread; without any, nothing can be.
  if (!core.gate->isPassingElsewhere()) return false;
  return auth::Dependencies::get(core.auth->clientID()).eventEmitter.isEmittingOnThisThread() ||
         core.realtime->strand()->isCurrent();
}

Task<void> forwardAuthEvents(std::weak_ptr<VoduzaziClient::Core> weakCore) {
  return Task<void>([weakCore = std::move(weakCore)] {
    auto [changes, continuation] = AsyncStream<auth::AuthStateChange>::makeStream();
    // The listener is attached on this task, not on one of the auth client's: the initial
    // session it reads (and may refresh) is then part of the work the release waits for.
    std::shared_ptr<ObservationToken> listening;
    {
      const auto core = weakCore.lock();
      if (!core) return;
      const auto pass = core->gate->enter();
      if (!pass) return;
      listening = core->auth->onAuthStateChange(
          [continuation = continuation](auth::AuthChangeEvent event,
                                        const std::optional<auth::Session>& session) {
            continuation.yield(auth::AuthStateChange{event, session});
          });
    }
    // The facade is held only while one event is handled, so releasing it ends the loop.
    while (const auto change = changes.next()) {
      const auto core = weakCore.lock();
      if (!core) return;
      const auto pass = core->gate->enter();
      if (!pass) return;
      core->forwardToRealtimeClients(core->forwardTokenChange(change->event, change->session));
    }
  });
}

}  // namespace detail
}  // namespace voduzazi
