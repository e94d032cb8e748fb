#include "local_backend/token_authority.hpp"

#include "local_backend/jwt.hpp"
#include "local_backend/timestamp.hpp"

namespace local_backend {

namespace {

// 2025-01-01T00:00:00Z and 2100-01-01T00:00:00Z.
constexpr std::int64_t kKeyIssuedAt = 1735689600;
constexpr std::int64_t kKeyExpiresAt = 4102444800;

std::string makeKey(std::string_view secret, std::string_view role) {
  const boost::json::object claims{{"iss", "voduzazi-local"},
                                   {"ref", "local-stand-in"},
                                   {"role", role},
                                   {"iat", kKeyIssuedAt},
                                   {"exp", kKeyExpiresAt}};
  return signJwt(claims, secret);
}

std::string stringClaim(const boost::json::object& claims, std::string_view name) {
  const auto* value = claims.if_contains(name);
  return value != nullptr && value->is_string() ? std::string(value->as_string()) : std::string();
}

}  // namespace

TokenAuthority::TokenAuthority(std::string secret, std::chrono::seconds accessTokenLifetime)
    : secret_(std::move(secret)),
      lifetime_(accessTokenLifetime),
      anonKey_(makeKey(secret_, "anon")),
      serviceKey_(makeKey(secret_, "service_role")) {}

std::string TokenAuthority::sign(const boost::json::object& claims) const {
  return signJwt(claims, secret_);
}

boost::json::object TokenAuthority::verify(std::string_view token) const {
  return verifyJwt(token, secret_, unixNow());
}

bool TokenAuthority::isApiKey(std::string_view token) const {
  try {
    const auto role = stringClaim(verify(token), "role");
    return role == "anon" || role == "service_role";
  } catch (const JwtError&) {
    return false;
  }
}

Caller TokenAuthority::callerFromToken(std::string_view token) const {
  const auto claims = verify(token);
  const auto role = stringClaim(claims, "role");
  if (role == "anon") return Caller{Role::anon, {}, {}};
  if (role == "service_role") return Caller{Role::service, {}, {}};
  const auto subject = stringClaim(claims, "sub");
  if (role == "authenticated" && !subject.empty()) {
    return Caller{Role::authenticated, subject, stringClaim(claims, "session_id")};
  }
  throw JwtError(JwtError::Kind::malformed, "token names no known role");
}

}  // namespace local_backend
