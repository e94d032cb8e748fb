#include "voduzazi/auth/session.hpp"

#include <array>
#include <chrono>

namespace voduzazi::auth {
namespace {

// How close to its expiry a session counts as expired.
constexpr double expiryMarginSeconds = 30;

}  // namespace

boost::json::value WeakPassword::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encode("reasons", reasons);
  return std::move(out).json();
}

WeakPassword WeakPassword::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                    const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  return {in.decode<std::vector<std::string>>("reasons")};
}

bool Session::isExpired(Date now) const {
  const double nowSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
  return expiresAt - nowSeconds < expiryMarginSeconds;
}

bool Session::isExpired() const { return isExpired(std::chrono::system_clock::now()); }

boost::json::value Session::toJSON(const JSONEncoder& encoder) const {
  KeyedEncoder out(encoder);
  out.encodeIfPresent("providerToken", providerToken);
  out.encodeIfPresent("providerRefreshToken", providerRefreshToken);
  out.encode("accessToken", accessToken);
  out.encode("tokenType", tokenType);
  out.encode("expiresIn", expiresIn);
  out.encode("expiresAt", expiresAt);
  out.encode("refreshToken", refreshToken);
  out.encodeIfPresent("weakPassword", weakPassword);
  out.encode("user", user);
  return std::move(out).json();
}

Session Session::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                          const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  Session session;
  session.providerToken = in.decodeIfPresent<std::string>("providerToken");
  session.providerRefreshToken = in.decodeIfPresent<std::string>("providerRefreshToken");
  session.accessToken = in.decode<std::string>("accessToken");
  session.tokenType = in.decode<std::string>("tokenType");
  session.expiresIn = in.decode<double>("expiresIn");
  session.expiresAt = in.decode<double>("expiresAt");
  session.refreshToken = in.decode<std::string>("refreshToken");
  session.weakPassword = in.decodeIfPresent<WeakPassword>("weakPassword");
  session.user = in.decode<User>("user");
  return session;
}

const User& AuthResponse::user() const {
  if (const Session* held = session()) return held->user;
  return std::get<User>(value_);
}

boost::json::value AuthResponse::toJSON(const JSONEncoder& encoder) const {
  return std::visit([&](const auto& payload) { return payload.toJSON(encoder); }, value_);
}

AuthResponse AuthResponse::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                    const CodingPath& path) {
  try {
    return Session::fromJSON(json, decoder, path);
  } catch (const DecodingError&) {
  }
  try {
    return User::fromJSON(json, decoder, path);
  } catch (const DecodingError&) {
  }
  throw DecodingError(DecodingError::Kind::dataCorrupted, path,
                      "Data could not be decoded as any of the expected types (Session, User).");
}

std::string description(AuthChangeEvent event, const std::optional<Session>& session) {
  return "(" + std::string(toString(event)) + ", " +
         (session ? description(*session) : std::string("nil")) + ")";
}

}  // namespace voduzazi::auth
