// The server's signing authority: the API keys it hands out, the access tokens it issues and
// who a presented token says the caller is.
//
//   TokenAuthority tokens(secret, std::chrono::seconds{3600});
//   std::string anon = tokens.anonKey();
//   Caller caller = tokens.callerFromToken(bearer);    // throws JwtError
#pragma once

#include <boost/json/object.hpp>
#include <chrono>
#include <string>
#include <string_view>

namespace local_backend {

enum class Role { anon, authenticated, service };

// Who a request acts as. `userId` and `sessionId` are set for Role::authenticated only.
struct Caller {
  Role role = Role::anon;
  std::string userId;
  std::string sessionId;
};

// Thread safety: safe (immutable after construction). Lifetime: the server's.
class TokenAuthority {
 public:
  TokenAuthority(std::string secret, std::chrono::seconds accessTokenLifetime);

  // Deterministic for a given secret: fixed issue time and a far expiry, so that clients can
  // compile the anonymous key in.
  const std::string& anonKey() const noexcept { return anonKey_; }
  const std::string& serviceKey() const noexcept { return serviceKey_; }

  std::chrono::seconds accessTokenLifetime() const noexcept { return lifetime_; }

  std::string sign(const boost::json::object& claims) const;

  // Claims of a valid token signed by this authority; throws JwtError otherwise.
  boost::json::object verify(std::string_view token) const;

  // A valid API key: one of this authority's tokens with the role "anon" or "service_role".
  bool isApiKey(std::string_view token) const;

  // The caller a valid token names; throws JwtError for an invalid token or an unknown role.
  Caller callerFromToken(std::string_view token) const;

 private:
  std::string secret_;
  std::chrono::seconds lifetime_;
  std::string anonKey_;
  std::string serviceKey_;
};

}  // namespace local_backend
