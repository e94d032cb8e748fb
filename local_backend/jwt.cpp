#include "local_backend/jwt.hpp"

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "local_backend/detail/crypto.hpp"

namespace local_backend {

namespace {

constexpr std::string_view kHeader = R"({"alg":"HS256","typ":"JWT"})";

boost::json::object decodeObject(std::string_view part) {
  const auto bytes = detail::base64UrlDecode(part);
  if (!bytes) throw JwtError(JwtError::Kind::malformed, "token is not base64url");
  boost::system::error_code ec;
  auto value = boost::json::parse(*bytes, ec);
  if (ec || !value.is_object()) {
    throw JwtError(JwtError::Kind::malformed, "token part is not a JSON object");
  }
  return std::move(value.as_object());
}

}  // namespace

std::string signJwt(const boost::json::object& claims, std::string_view secret) {
  std::string token = detail::base64UrlEncode(kHeader);
  token += '.';
  token += detail::base64UrlEncode(boost::json::serialize(claims));
  const std::string signature = detail::hmacSha256(secret, token);
  token += '.';
  token += detail::base64UrlEncode(signature);
  return token;
}

boost::json::object verifyJwt(std::string_view token, std::string_view secret, std::int64_t now) {
  const auto first = token.find('.');
  const auto second = first == std::string_view::npos ? first : token.find('.', first + 1);
  if (second == std::string_view::npos || token.find('.', second + 1) != std::string_view::npos) {
    throw JwtError(JwtError::Kind::malformed, "token must have three parts");
  }
  const auto header = decodeObject(token.substr(0, first));
  const auto* alg = header.if_contains("alg");
  if (alg == nullptr || !alg->is_string() || alg->as_string() != "HS256") {
    throw JwtError(JwtError::Kind::badSignature, "token algorithm must be HS256");
  }
  const auto signature = detail::base64UrlDecode(token.substr(second + 1));
  const std::string expected = detail::hmacSha256(secret, token.substr(0, second));
  if (!signature || !detail::constantTimeEquals(*signature, expected)) {
    throw JwtError(JwtError::Kind::badSignature, "token signature does not match");
  }
  auto claims = decodeObject(token.substr(first + 1, second - first - 1));
  const auto* exp = claims.if_contains("exp");
  if (exp == nullptr || !exp->is_number()) {
    throw JwtError(JwtError::Kind::malformed, "token has no expiry");
  }
  boost::system::error_code ec;
  const auto expiry = exp->to_number<double>(ec);
  if (ec || expiry <= static_cast<double>(now)) {
    throw JwtError(JwtError::Kind::expired, "token is expired");
  }
  return claims;
}

}  // namespace local_backend
