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
// client closes it (see close()): once the destructor returns, nothing the client started runs
// any more or calls the configured transport, store or logger, or a listener.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "voduzazi/auth/auth_admin.hpp"
#include "voduzazi/auth/auth_client_configuration.hpp"
#include "voduzazi/auth/auth_mfa.hpp"
#include "voduzazi/auth/session.hpp"
#include "voduzazi/auth/sign_in_records.hpp"
#include "voduzazi/auth/user_attributes.hpp"
#include "voduzazi/concurrency/async_stream.hpp"
#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/http_request.hpp"
#include "voduzazi/helpers/observation_token.hpp"
#include "voduzazi/platform/application_lifecycle.hpp"
#include "voduzazi/platform/web_authentication_session.hpp"

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
  explicit AuthClient(Configuration configuration, std::shared_ptr<ApplicationLifecycle> lifecycle =
                                                       ApplicationLifecycle::shared());
  ~AuthClient();
  AuthClient(const AuthClient&) = delete;
  AuthClient& operator=(const AuthClient&) = delete;

  std::int64_t clientID() const noexcept { return clientID_; }

  // --- The session.
  // The current session, refreshed first when it expires within 30 seconds. Throws AuthError
  // sessionMissing without one, or what the refresh throws. What another program sharing the
  // store changed there since this one last looked is first announced to the listeners, once
  // (TOKEN_REFRESHED, SIGNED_IN or SIGNED_OUT); the auto-refresh tick does the same. The call
  // announcing also announces what other threads find meanwhile, so it is held for as long as
  // another program writes faster than the listeners take; a sign-out or sign-in meanwhile makes
  // an announcement stale, and no listener called after it hears that one.
  Session session() const;
  // The stored session as it is, maybe expired; no network.
  std::optional<Session> currentSession() const;
  std::optional<User> currentUser() const;

  // --- Events.
  // Calls `listener` for every event until the token is cancelled or released; INITIAL_SESSION
  // with the current session reaches it (and only it) before this returns. That session is read
  // first, so a sign-out on another thread in between reaches the listener before it: SIGNED_OUT,
  // then INITIAL_SESSION with the session signed out of. A listener of TOKEN_REFRESHED runs on
  // the refresh's thread: waiting there for another thread's refreshSession() waits for itself,
  // since that thread joins the refresh in flight.
  std::shared_ptr<ObservationToken> onAuthStateChange(Listener listener) const;
  // The events as a stream, from INITIAL_SESSION on; unbounded, ends only from the consumer's side
  // (a closed client gives one that has already ended).
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

  // --- Sign-in without a password (one-time passwords, ID tokens, anonymous, single sign-on).
  // The ID-token and anonymous sign-ins store the session and emit SIGNED_IN; the others only ask
  // the server to send a code or for a provider's URL, and store nothing. The e-mail forms and
  // single sign-on prepare PKCE first (a new code verifier in the PKCE flow); phone forms never.
  Session signInWithIdToken(const OpenIDConnectCredentials& credentials) const;
  Session signInAnonymously(std::optional<JSONObject> data = std::nullopt,
                            std::optional<std::string> captchaToken = std::nullopt) const;
  void signInWithOTP(const std::string& email,
                     std::optional<boost::urls::url> redirectTo = std::nullopt,
                     bool shouldCreateUser = true, std::optional<JSONObject> data = std::nullopt,
                     std::optional<std::string> captchaToken = std::nullopt) const;
  void signInWithOTP(const std::string& phone, MessagingChannel channel,
                     bool shouldCreateUser = true, std::optional<JSONObject> data = std::nullopt,
                     std::optional<std::string> captchaToken = std::nullopt) const;
  SSOResponse signInWithSSO(const std::string& domain,
                            std::optional<boost::urls::url> redirectTo = std::nullopt,
                            std::optional<std::string> captchaToken = std::nullopt) const;
  SSOResponse signInWithSSOProvider(const std::string& providerId,
                                    std::optional<boost::urls::url> redirectTo = std::nullopt,
                                    std::optional<std::string> captchaToken = std::nullopt) const;

  // --- OAuth with PKCE.
  // Exchanges the authorization code and the stored code verifier for a session; stores it,
  // clears the verifier and emits SIGNED_IN. A refused exchange keeps the verifier.
  Session exchangeCodeForSession(const std::string& authCode) const;
  // The server's sign-in URL for `provider` (a new code verifier in the PKCE flow). Throws
  // URLError badURL.
  boost::urls::url getOAuthSignInURL(Provider provider,
                                     std::optional<std::string> scopes = std::nullopt,
                                     std::optional<boost::urls::url> redirectTo = std::nullopt,
                                     std::vector<URLQueryItem> queryParams = {}) const;
  // Hands the sign-in URL to `launchFlow`, which returns the URL the browser was sent back to,
  // then finishes with session(from:). Throws what launchFlow or session(from:) throws.
  using LaunchFlow = std::function<boost::urls::url(const boost::urls::url& signInURL)>;
  Session signInWithOAuth(Provider provider, std::optional<boost::urls::url> redirectTo,
                          std::optional<std::string> scopes, std::vector<URLQueryItem> queryParams,
                          const LaunchFlow& launchFlow) const;
  // Signs in through the system browser: a one-shot listener on 127.0.0.1 receives the redirect,
  // so its URL (not `redirectTo` or the configured one) is the redirect URL the server gets.
  // `configure` may change the session's options before the browser opens. Throws
  // WebAuthenticationSessionError canceledLogin on timeout or cancellation.
  using ConfigureSession = std::function<void(WebAuthenticationSession&)>;
  Session signInWithOAuth(Provider provider,
                          std::optional<boost::urls::url> redirectTo = std::nullopt,
                          std::optional<std::string> scopes = std::nullopt,
                          std::vector<URLQueryItem> queryParams = {},
                          const ConfigureSession& configure = {}) const;
  // Finishes a sign-in from a URL that reached the application (a deep link) in the background
  // and returns at once; a failure only reaches the configured logger. The client's release waits
  // for it; a closed client ignores the URL.
  void handle(const boost::urls::url& url) const;

  // --- Sessions from elsewhere.
  // The session a redirect URL carries: its tokens (implicit flow) or its code (PKCE flow).
  // Stores it and emits SIGNED_IN (and PASSWORD_RECOVERY for a recovery link). Throws AuthError
  // implicitGrantRedirect or pkceGrantCodeExchange for a URL that is no such redirect.
  Session session(const boost::urls::url& from) const;
  // Adopts a token pair obtained elsewhere: refreshed first when the access token has expired.
  // Throws AuthError malformedJWT for a live access token with control characters.
  Session setSession(const std::string& accessToken, const std::string& refreshToken) const;
  // Refreshes now, with the given refresh token or the stored session's.
  Session refreshSession(std::optional<std::string> refreshToken = std::nullopt) const;

  // --- Verification, resend, reauthentication and recovery. A verification answered with a
  // session stores it and emits SIGNED_IN; nothing else changes the client's state.
  AuthResponse verifyOTP(const std::string& email, const std::string& token, EmailOTPType type,
                         std::optional<boost::urls::url> redirectTo = std::nullopt,
                         std::optional<std::string> captchaToken = std::nullopt) const;
  AuthResponse verifyOTP(const std::string& phone, const std::string& token, MobileOTPType type,
                         std::optional<std::string> captchaToken = std::nullopt) const;
  AuthResponse verifyOTP(const std::string& tokenHash, EmailOTPType type) const;
  void resend(const std::string& email, ResendEmailType type,
              std::optional<boost::urls::url> emailRedirectTo = std::nullopt,
              std::optional<std::string> captchaToken = std::nullopt) const;
  ResendMobileResponse resend(const std::string& phone, ResendMobileType type,
                              std::optional<std::string> captchaToken = std::nullopt) const;
  // Asks the server to send the signed-in user a fresh code. Throws sessionMissing without one.
  void reauthenticate() const;
  void resetPasswordForEmail(const std::string& email,
                             std::optional<boost::urls::url> redirectTo = std::nullopt,
                             std::optional<std::string> captchaToken = std::nullopt) const;

  // --- The signed-in user and linked identities. All but user(jwt) with a token need a session
  // and throw sessionMissing without one; user(jwt) throws malformedJWT for a token with control
  // characters.
  User user(std::optional<std::string> jwt = std::nullopt) const;
  // Changes the user; the stored session gets the server's user and USER_UPDATED is emitted
  // (unless the device signed out or another user signed in while the request was under way).
  User update(const UserAttributes& user,
              std::optional<boost::urls::url> redirectTo = std::nullopt) const;
  std::vector<UserIdentity> userIdentities() const;
  Session linkIdentityWithIdToken(OpenIDConnectCredentials credentials) const;
  OAuthResponse getLinkIdentityURL(Provider provider,
                                   std::optional<std::string> scopes = std::nullopt,
                                   std::optional<boost::urls::url> redirectTo = std::nullopt,
                                   std::vector<URLQueryItem> queryParams = {}) const;
  // Hands the link URL to `launchURL`, or, without one, to the URL opener of the client.
  void linkIdentity(Provider provider, std::optional<std::string> scopes = std::nullopt,
                    std::optional<boost::urls::url> redirectTo = std::nullopt,
                    std::vector<URLQueryItem> queryParams = {},
                    const std::function<void(const boost::urls::url&)>& launchURL = {}) const;
  void unlinkIdentity(const UserIdentity& identity) const;

  // --- Multi-factor and administrative operations; each read builds a fresh handle.
  AuthMFA mfa() const { return AuthMFA{clientID_}; }
  AuthAdmin admin() const { return AuthAdmin{clientID_}; }

  // --- Sign-out. Without a stored session it only logs a warning. For global and local it deletes
  // the stored session and emits SIGNED_OUT before it tells the server; a server that no longer
  // knows the session is not an error. Throws what else sending fails with.
  void signOut(SignOutScope scope = SignOutScope::global) const;

  // --- Auto-refresh, whatever the configuration says. Neither waits for the loop.
  void startAutoRefresh() const;
  void stopAutoRefresh() const;

  // --- Release. Ends the client's background work for good: it stops following the
  // application's activity, ends event deliveries (an emit under way calls no further listener),
  // stops the auto-refresh loop, calls off a refresh that has not sent its request yet (one
  // waiting for the store's refresh turn, say), and waits for the rest and for the client's own
  // tasks (authStateChanges, handle). A refresh whose request is under way, or a deep link's
  // code exchange, may end within releaseWait, its answer stored; then its transfer is called
  // off (its callers get CancellationError) and an answer arriving later is lost: the server may
  // have spent the stored refresh token, and the next start may then find the session gone.
  // The bound relies on the transport ending a cancelled transfer, as URLSession does.
  // Called on one of those threads (a listener of a refresh, say) it waits for none of them:
  // they end by themselves and start nothing new. Afterwards no refresh or tick starts (a
  // refresh throws CancellationError) and authStateChanges() gives a finished stream. The
  // destructor calls it; calling it again does nothing more. The client's registry entry, with
  // its logger, store and transport, stays for the rest of the process (about 8 KB).
  void close() const;
  // How long a release waits for the work under way before it calls it off.
  static constexpr std::chrono::seconds releaseWait{5};

  // --- Web sign-in support, for the client's browser flows.
  // In the PKCE flow: stores a new code verifier and gives its challenge; otherwise both absent.
  PKCEPair prepareForPKCE() const;
  // Whether callback parameters belong to the PKCE flow ("error_code" alone counts only while a
  // code verifier is stored).
  bool isPKCEFlow(const std::map<std::string, std::string>& params) const;
  // The authorization URL of `provider` on the endpoint `url`: "provider", "scopes",
  // "redirect_to", the PKCE pair, "skip_http_redirect", then `queryParams` in order. Throws
  // URLError badURL.
  boost::urls::url getURLForProvider(const boost::urls::url& url, Provider provider,
                                     const std::optional<std::string>& scopes,
                                     const std::optional<boost::urls::url>& redirectTo,
                                     const std::vector<URLQueryItem>& queryParams,
                                     std::optional<bool> skipBrowserRedirect) const;

  // The answer of the identity-link endpoint: the URL to open.
  struct Response {
    boost::urls::url url{};

    bool operator==(const Response&) const = default;
    boost::json::value toJSON(const JSONEncoder& encoder) const;
    static Response fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                             const CodingPath& path = {});
  };

 private:
  struct Background;
  struct Borrowed {};

  // A handle on an existing client's entry, for background work that may outlive the client; it
  // neither registers nor stops anything.
  AuthClient(Borrowed, std::int64_t clientID) : clientID_(clientID) {}

  // Starts `body` as one of the client's tasks, which close() waits for; false once closed.
  bool startTask(std::function<void()> body) const;
  AuthResponse performSignUp(helpers::HTTPRequest request) const;
  // Completes the credentials (an e-mail address or a phone number) of a password sign-in.
  Session signInWithPassword(UserCredentials credentials, const std::string& password,
                             std::optional<std::string> captchaToken) const;
  Session performSignIn(helpers::HTTPRequest request) const;
  SSOResponse performSSO(SignInWithSSORequest body,
                         const std::optional<boost::urls::url>& redirectTo,
                         const std::optional<std::string>& captchaToken) const;
  AuthResponse performVerifyOTP(helpers::HTTPRequest request) const;
  Session handleImplicitGrant(const std::map<std::string, std::string>& params) const;
  Session handlePKCEFlow(const std::map<std::string, std::string>& params) const;
  // Stores the session, then emits `event` (SIGNED_IN by default) with it.
  void adopt(const Session& session, AuthChangeEvent event = AuthChangeEvent::signedIn) const;
  // A request to the auth URL with `path` appended ("/" separating segments).
  helpers::HTTPRequest request(std::string_view path, std::vector<URLQueryItem> query = {},
                               HTTPMethod method = HTTPMethod::post) const;

  std::int64_t clientID_;
  // None in a borrowed handle.
  std::shared_ptr<Background> background_;
};

}  // namespace voduzazi::auth
