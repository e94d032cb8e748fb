// The authentication service under "/auth/v1": sign-up, password and refresh-token grants,
// reading and changing the signed-in user, and sign-out.
//
//   auto auth = std::make_shared<AuthService>(db, tokens, AuthOptions{});
//   router.mount("/auth/v1", auth);
//   // POST /auth/v1/token?grant_type=password {"email": ..., "password": ...} -> a session
#pragma once

#include "local_backend/database.hpp"
#include "local_backend/router.hpp"
#include "local_backend/token_authority.hpp"

namespace local_backend {

struct AuthOptions {
  // Sign-up answers a bare user, and password sign-in refuses the unconfirmed address.
  bool confirmEmail = false;
};

// The API version every answer names in "X-Voduzazi-Api-Version".
inline constexpr std::string_view kAuthApiVersion = "2024-01-01";

// Thread safety: safe; each request runs its own transactions. Lifetime: the server's; the
// database and the token authority must outlive it.
class AuthService : public ServiceHandler {
 public:
  AuthService(Database& database, const TokenAuthority& tokens, AuthOptions options);

  Response handle(const Request& request, const RequestTarget& target) override;
  void finish(Response& response) const override;

 private:
  Response signUp(const Request& request);
  Response grantToken(const Request& request, const RequestTarget& target);
  Response passwordGrant(const Request& request);
  Response refreshGrant(const Request& request);
  Response getUser(const Request& request);
  Response updateUser(const Request& request);
  Response logout(const Request& request, const RequestTarget& target);

  Database& database_;
  const TokenAuthority& tokens_;
  AuthOptions options_;
};

}  // namespace local_backend
