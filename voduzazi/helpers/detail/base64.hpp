// Standard base64 decoding for token payloads; unpadded base64url encoding and its strict decoding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace voduzazi::detail {

// Decodes standard base64, skipping characters outside the alphabet. Padding may only end the
// text; a final group of a single character is invalid. Nothing for invalid input.
std::optional<std::string> decodeBase64(std::string_view text);

// Base64 with the URL-safe alphabet ("-" and "_" for "+" and "/") and no "=" padding.
std::string encodeBase64URL(std::string_view bytes);

// The exact inverse of encodeBase64URL: nothing for "=", characters outside the alphabet, a
// final group of one character, or unused low bits that are not zero, so that each byte string
// has exactly one spelling.
std::optional<std::string> decodeBase64URL(std::string_view text);

}  // namespace voduzazi::detail
