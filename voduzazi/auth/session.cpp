#include "voduzazi/auth/session.hpp"

#include <array>
#include <chrono>

namespace voduzazi::auth {
namespace {

// How close to its expiry a session counts as expired.
constexpr double expiryMarginSeconds = 30;

constexpr auto weakPasswordFields = std::tuple{field("reasons", &WeakPassword::reasons)};

// Both expiry fields are required: neither is derived from the other.
constexpr auto sessionFields = std::tuple{
    field("providerToken", &Session::providerToken),
    field("providerRefreshToken", &Session::providerRefreshToken),
    field("accessToken", &Session::accessToken),
    field("tokenType", &Session::tokenType),
    field("expiresIn", &Session::expiresIn),
    field("expiresAt", &Session::expiresAt),
    field("refreshToken", &Session::refreshToken),
    field("weakPassword", &Session::weakPassword),
    field("user", &Session::user),
};

}  // namespace

boost::json::value WeakPassword::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, weakPasswordFields);
}

WeakPassword WeakPassword::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                    const CodingPath& path) {
  return decodeFields(json, decoder, path, weakPasswordFields);
}

bool Session::isExpired(Date now) const {
  const double nowSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
  return expiresAt - nowSeconds < expiryMarginSeconds;
}

bool Session::isExpired() const { return isExpired(std::chrono::system_clock::now()); }

boost::json::value Session::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, sessionFields);
}

Session Session::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                          const CodingPath& path) {
  return decodeFields(json, decoder, path, sessionFields);
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
