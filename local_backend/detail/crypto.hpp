// Small cryptographic helpers over OpenSSL: secure random bytes, SHA-256, HMAC-SHA-256,
// base64url and a constant-time comparison.
//
//   std::string token = detail::base64UrlEncode(detail::randomBytes(32));
//   std::string digest = detail::sha256Hex(token);
//   bool same = detail::constantTimeEquals(a, b);
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace local_backend::detail {

// Cryptographically secure random bytes; throws std::runtime_error when the source fails.
std::string randomBytes(std::size_t count);

// A random version-4 UUID in lower-case text form.
std::string randomUuid();

// The 32 raw bytes of the digest.
std::string sha256(std::string_view data);
std::string sha256Hex(std::string_view data);

std::string hmacSha256(std::string_view key, std::string_view data);

// Base64url without padding, as JWTs use it.
std::string base64UrlEncode(std::string_view data);

// Accepts the unpadded form only, so that every byte string has exactly one spelling: nullopt
// for "=", for characters outside the alphabet and for a non-canonical last character (one
// whose unused low bits are not zero).
std::optional<std::string> base64UrlDecode(std::string_view text);

std::string base64Encode(std::string_view data);
// Accepts input with or without padding.
std::optional<std::string> base64Decode(std::string_view text);

// Compares in time that depends only on the lengths, never on where the inputs differ.
bool constantTimeEquals(std::string_view a, std::string_view b);

}  // namespace local_backend::detail
