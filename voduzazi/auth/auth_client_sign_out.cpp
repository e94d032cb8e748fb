// Sign-out.
#include "voduzazi/auth/auth_client.hpp"
#include "voduzazi/auth/dependencies.hpp"

namespace voduzazi::auth {

namespace {

// The server no longer knows the session (or the token): the device is signed out all the same.
bool sessionAlreadyGone(const AuthError& error) {
  if (error == AuthError::sessionMissing()) return true;
  const auto* api = error.as<AuthError::API>();
  if (api == nullptr || !api->underlyingResponse) return false;
  const int status = api->underlyingResponse->statusCode();
  return status == 401 || status == 403 || status == 404;
}

}  // namespace

void AuthClient::signOut(SignOutScope scope) const {
  const Dependencies dependencies = Dependencies::get(clientID_);
  const std::optional<Session> session = dependencies.sessionStorage.get();
  if (!session) {
    if (dependencies.logger) dependencies.logger->warning("signOut called without a session");
    return;
  }
  const bool signsOutThisDevice = scope != SignOutScope::others;
  if (signsOutThisDevice) {
    // Before the server is asked: the device is signed out even when the request fails.
    dependencies.sessionManager.remove();
    dependencies.eventEmitter.emit(AuthChangeEvent::signedOut, std::nullopt);
  }
  helpers::HTTPRequest logout = request("logout", {{"scope", std::string(toString(scope))}});
  logout.headers.set(HTTPField::Name("Authorization"), "Bearer " + session->accessToken);
  try {
    // SIGNED_OUT went out above; a session the server forgot must not announce it twice.
    dependencies.api.execute(std::move(logout), signsOutThisDevice
                                                    ? APIClient::SessionCleanup::none
                                                    : APIClient::SessionCleanup::removeAndAnnounce);
  } catch (const AuthError& error) {
    if (!sessionAlreadyGone(error)) throw;
  }
}

}  // namespace voduzazi::auth
