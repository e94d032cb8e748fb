// Standard base64 decoding for token payloads; unpadded base64url encoding.
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

}  // namespace voduzazi::detail
