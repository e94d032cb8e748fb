// UTF-8 scanning used where octets turn into text and back.
//
//   auto scalar = detail::decodeScalar(text, 0);
//   if (scalar.valid) detail::appendScalar(out, scalar.value);
//   std::string shown = detail::repairedUTF8(octets);  // ill-formed runs become U+FFFD
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace voduzazi::http_types::detail {

struct DecodedScalar {
  char32_t value;      // the scalar, or U+FFFD when not valid
  std::size_t length;  // bytes consumed: the whole sequence, or its maximal ill-formed part
  bool valid;
};

// Decodes the sequence starting at `position` (< text.size()).
DecodedScalar decodeScalar(std::string_view text, std::size_t position) noexcept;

void appendScalar(std::string& out, char32_t scalar);

bool isASCII(std::string_view bytes) noexcept;

// The bytes as UTF-8 text, each ill-formed sequence (maximal subpart) replaced by U+FFFD.
std::string repairedUTF8(std::string_view bytes);

}  // namespace voduzazi::http_types::detail
