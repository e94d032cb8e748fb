// HS256 JSON Web Tokens: signing claims and verifying tokens against one secret.
//
//   boost::json::object claims{{"sub", id}, {"role", "authenticated"}, {"exp", now + 3600}};
//   std::string token = signJwt(claims, secret);
//   boost::json::object back = verifyJwt(token, secret, unixNow());   // throws JwtError
#pragma once

#include <boost/json/object.hpp>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace local_backend {

// Why a token was refused. `what()` is a short human-readable reason.
class JwtError : public std::runtime_error {
 public:
  enum class Kind { malformed, badSignature, expired };
  JwtError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  Kind kind() const noexcept { return kind_; }

 private:
  Kind kind_;
};

// Signs the claims as written (key order kept) with the header {"alg":"HS256","typ":"JWT"}.
std::string signJwt(const boost::json::object& claims, std::string_view secret);

// Returns the claims of a token signed with `secret` whose numeric "exp" lies after `now`
// (seconds since 1970). Throws JwtError for anything else: another algorithm ("none" included),
// another secret, a missing or passed "exp", or text that is not a token.
boost::json::object verifyJwt(std::string_view token, std::string_view secret, std::int64_t now);

}  // namespace local_backend
