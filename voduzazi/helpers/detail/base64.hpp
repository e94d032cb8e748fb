// Standard base64 decoding for token payloads.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace voduzazi::detail {

// Decodes standard base64, skipping characters outside the alphabet. Padding may only end the
// text; a final group of a single character is invalid. Nothing for invalid input.
std::optional<std::string> decodeBase64(std::string_view text);

}  // namespace voduzazi::detail
