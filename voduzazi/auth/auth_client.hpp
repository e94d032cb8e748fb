// AuthClient: signs users up, in and out against the auth API, keeps the session in the client's
// store, refreshes it before it expires and tells listeners about every change.
//
//   AuthClient auth(AuthClient::Configuration(
//       {.url = boost::urls::url(base + "/auth/v1"), .headers = {{"apikey", key}}}));
//   auto token = auth.onAuthStateChange([](AuthChangeEvent event, const std::optional<Session>&) {
//     std::cout << toString(event) << "\n";        // INITIAL_SESSION first
//   });
//   Session session = auth.signIn("ada@example.com", "correct horse");
//   auth.signOut();
//
// Shared objects: safe; operations run on the caller's thread and may overlap. Listeners run on
// the thread that emits, outside every lock of the client, and may call back into it.
// Lifetime: the client holds only its id; its collaborators stay in the registry. Destroying the
// client stops its auto-refresh loop and its watch on the application's activity.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "voduzazi/auth/auth_client_configuration.hpp"
#include "voduzazi/auth/session.hpp"
#include "voduzazi/auth/sign_in_records.hpp"
#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/http_request.hpp"
#include "voduzazi/helpers/observation_token.hpp"
#include "voduzazi/platform/application_lifecycle.hpp"

namespace voduzazi::auth {

// One element of authStateChanges().
struct AuthStateChange {
  AuthChangeEvent event;
  std::optional<Session> session;
};

// The code challenge and its method ("s256" or "plain"); both absent outside the PKCE flow.
struct PKCEPair {
  std::optional<std::string> codeChallenge;
  std::optional<std::string> codeChallengeMethod;
};

class AuthClient {
 public:
  using Configuration = AuthClientConfiguration;
  using Listener = std::function<void(AuthChangeEvent, const std::optional<Session>&)>;

  // Registers the client's collaborators under a new id (1 for the first client of the process)
  // and watches `lifecycle`: while the application is active and the configuration asks for it,
  // the session is refreshed in the background.
  explicit AuthClient(Configuration configuration,
                      std::shared_ptr<ApplicationLifecycle> lifecycle = ApplicationLifecycle::shared());
  ~AuthClient();
  AuthClient(const AuthClient&) = delete;
  AuthClient& operator=(const AuthClient&) = delete;

  std::int64_t clientID() const noexcept { return clientID_; }

  // --- The session.
  // The current session, refreshed first when it expires within 30 seconds. Throws AuthError
  // sessionMissing without one, or what the refresh throws.
  Session session() const;
  // The stored session as it is, maybe expired; no network.
  std::optional<Session> currentSession() const;
  std::optional<User> currentUser() const;

  // --- Events.
  // Calls `listener` for every event until the token is cancelled or released; INITIAL_SESSION
  // with the current session reaches it (and only it) before this returns.
  std::shared_ptr<ObservationToken> onAuthStateChange(Listener listener) const;
  // The events as a stream, from INITIAL_SESSION on; unbounded, ends only from the consumer's side.
  AsyncStream<AuthStateChange> authStateChanges() const;

  // --- Sign-up and sign-in. Each stores the session before it emits SIGNED_IN. They throw
  // AuthError for refusals, the transport's URLError, and DecodingError for an answer that is
  // not what it should be.
  AuthResponse signUp(const std::string& email, const std::string& password,
                      std::optional<JSONObject> data = std::nullopt,
                      std::optional<boost::urls::url> redirectTo = std::nullopt,
                      std::optional<std::string> captchaToken = std::nullopt) const;
  AuthResponse signUpWithPhone(const std::string& phone, const std::string& password,
                               MessagingChannel channel = MessagingChannel::sms,
                               std::optional<JSONObject> data = std::nullopt,
                               std::optional<std::string> captchaToken = std::nullopt) const;
  Session signIn(const std::string& email, const std::string& password,
                 std::optional<std::string> captchaToken = std::nullopt) const;
  Session signInWithPhone(const std::string& phone, const std::string& password,
                          std::optional<std::string> captchaToken = std::nullopt) const;

  // --- Sign-out. Without a stored session it only logs a warning. For global and local it deletes
  // the stored session and emits SIGNED_OUT before it tells the server; a server that no longer
  // knows the session is not an error. Throws what else sending fails with.
  void signOut(SignOutScope scope = SignOutScope::global) const;

  // --- Auto-refresh, whatever the configuration says. Neither waits for the loop.
  void startAutoRefresh() const;
  void stopAutoRefresh() const;

  // --- Web sign-in support, for the client's browser flows.
  // In the PKCE flow: stores a new code verifier and gives its challenge; otherwise both absent.
  PKCEPair prepareForPKCE() const;
  // Whether callback parameters belong to the PKCE flow ("error_code" alone counts only while a
  // code verifier is stored).
  bool isPKCEFlow(const std::map<std::string, std::string>& params) const;

 private:
  struct Lifecycle;

  AuthResponse performSignUp(helpers::HTTPRequest request) const;
  // Completes the credentials (an e-mail address or a phone number) of a password sign-in.
  Session signInWithPassword(UserCredentials credentials, const std::string& password,
                             std::optional<std::string> captchaToken) const;
  Session performSignIn(helpers::HTTPRequest request) const;
  void adopt(const Session& session) const;
  helpers::HTTPRequest request(std::string_view path, std::vector<URLQueryItem> query = {}) const;

  std::int64_t clientID_;
  std::shared_ptr<Lifecycle> lifecycle_;
};

}  // namespace voduzazi::auth
