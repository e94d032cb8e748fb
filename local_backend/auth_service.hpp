// The authentication service under "/auth/v1": sign-up, the password, refresh-token and PKCE
// grants, one-time codes by e-mail and text message (verify, resend, recover, reauthenticate),
// the sign-in page of a built-in "test" OAuth provider, the user and its identities, TOTP
// factors, and the administrative user endpoints. Mail and text messages go to an outbox that
// only the service key can read.
//
//   auto auth = std::make_shared<AuthService>(db, tokens, AuthOptions{});
//   router.mount("/auth/v1", auth);
//   // POST /auth/v1/token?grant_type=password {"email": ..., "password": ...} -> a session
//   // GET  /auth/v1/outbox?to=ada@example.com (service key) -> {"messages": [...]}
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "local_backend/auth_outbox.hpp"
#include "local_backend/authorization_codes.hpp"
#include "local_backend/database.hpp"
#include "local_backend/one_time_codes.hpp"
#include "local_backend/router.hpp"
#include "local_backend/token_authority.hpp"

namespace local_backend {

struct AuthOptions {
  // Sign-up answers a bare user, and password sign-in refuses the unconfirmed address.
  bool confirmEmail = false;
  // How long a one-time code and an authorization code stay valid.
  std::chrono::seconds otpLifetime{3600};
  std::chrono::seconds authorizationCodeLifetime{300};
  // Wrong tries after which a user's one-time code is void.
  int maxOtpAttempts = 5;
  // Redirect URLs accepted besides http://127.0.0.1 and http://localhost on any port: a URL is
  // accepted when it is one of these or continues one with "/", "?" or "#".
  std::vector<std::string> redirectAllowList;
};

// The API version every answer names in "X-Voduzazi-Api-Version".
inline constexpr std::string_view kAuthApiVersion = "2024-01-01";

// Thread safety: safe; each request runs its own transactions. Lifetime: the server's; the
// database and the token authority must outlive it.
class AuthService : public ServiceHandler {
 public:
  AuthService(Database& database, const TokenAuthority& tokens, AuthOptions options);

  Response handle(const Request& request, const RequestTarget& target) override;
  bool isPublic(const Request& request, const RequestTarget& target) const override;
  void finish(Response& response) const override;

 private:
  using Segments = std::vector<std::string>;

  Response route(const Request& request, const RequestTarget& target, const Segments& path);
  Response routeAdmin(const Request& request, const RequestTarget& target, const Segments& path);
  Response routeFactors(const Request& request, const Segments& path);

  Response signUp(const Request& request);
  Response grantToken(const Request& request, const RequestTarget& target);
  Response passwordGrant(const Request& request);
  Response refreshGrant(const Request& request);
  Response pkceGrant(const Request& request);
  Response getUser(const Request& request);
  Response updateUser(const Request& request);
  Response unlinkIdentity(const Request& request, const std::string& identityId);
  Response logout(const Request& request, const RequestTarget& target);

  // One-time codes (auth_service_otp.cpp).
  Response sendOtp(const Request& request, const RequestTarget& target);
  Response verify(const Request& request);
  Response resend(const Request& request, const RequestTarget& target);
  Response recover(const Request& request, const RequestTarget& target);
  Response reauthenticate(const Request& request);
  Response readOutbox(const Request& request, const RequestTarget& target);
  // Issues a code to the user's address and puts the message into the outbox.
  void mailCode(const Request& request, const std::string& userId, const std::string& to,
                const std::string& purpose, const std::string& redirectTo);

  // The test provider (auth_service_oauth.cpp).
  Response authorize(const Request& request, const RequestTarget& target);
  // Throws AuthFailure validation_failed for a redirect URL off the allow list.
  void checkRedirect(const std::string& redirectTo) const;

  // TOTP factors (auth_service_factors.cpp).
  Response enrollFactor(const Request& request);
  Response challengeFactor(const Request& request, const std::string& factorId);
  Response verifyFactor(const Request& request, const std::string& factorId);
  Response unenrollFactor(const Request& request, const std::string& factorId);

  // Administration (auth_service_admin.cpp); the service key only.
  Response listUsers(const Request& request, const RequestTarget& target);
  Response createUser(const Request& request);
  Response getUserById(const Request& request, const std::string& id);
  Response updateUserById(const Request& request, const std::string& id);
  Response deleteUser(const Request& request, const std::string& id);
  Response invite(const Request& request, const RequestTarget& target);

  struct Challenge {
    std::string factorId;
    std::string userId;
    std::int64_t expiresAt = 0;
  };

  Database& database_;
  const TokenAuthority& tokens_;
  AuthOptions options_;
  AuthOutbox outbox_;
  OneTimeCodes codes_;
  AuthorizationCodes authorizationCodes_;
  std::mutex challengesMutex_;
  std::map<std::string, Challenge> challenges_;
};

}  // namespace local_backend
