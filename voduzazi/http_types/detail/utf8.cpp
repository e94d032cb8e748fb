#include "voduzazi/http_types/detail/utf8.hpp"

#include <algorithm>

namespace voduzazi::http_types::detail {
namespace {

constexpr char32_t replacementCharacter = 0xFFFD;

bool isContinuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

}  // namespace

DecodedScalar decodeScalar(std::string_view text, std::size_t position) noexcept {
  const auto lead = static_cast<unsigned char>(text[position]);
  if (lead < 0x80) return {lead, 1, true};

  // The well-formed sequences of the Unicode standard: the second byte's range depends on the
  // lead byte so that overlong forms, surrogates and scalars above U+10FFFF are refused.
  std::size_t length = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {replacementCharacter, 1, false};
  }

  for (std::size_t offset = 1; offset < length; ++offset) {
    if (position + offset >= text.size()) return {replacementCharacter, offset, false};
    const auto byte = static_cast<unsigned char>(text[position + offset]);
    const bool inRange = offset == 1 ? (byte >= low && byte <= high) : isContinuation(byte);
    if (!inRange) return {replacementCharacter, offset, false};
    value = (value << 6) | (byte & 0x3F);
  }
  return {value, length, true};
}

void appendScalar(std::string& out, char32_t scalar) {
  if (scalar < 0x80) {
    out.push_back(static_cast<char>(scalar));
  } else if (scalar < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (scalar >> 6)));
    out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
  } else if (scalar < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (scalar >> 12)));
    out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (scalar >> 18)));
    out.push_back(static_cast<char>(0x80 | ((scalar >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((scalar >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (scalar & 0x3F)));
  }
}

bool isASCII(std::string_view bytes) noexcept {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char byte) { return static_cast<unsigned char>(byte) < 0x80; });
}

std::string repairedUTF8(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t position = 0; position < bytes.size();) {
    const DecodedScalar scalar = decodeScalar(bytes, position);
    if (scalar.valid) {
      text.append(bytes.substr(position, scalar.length));
    } else {
      appendScalar(text, replacementCharacter);
    }
    position += scalar.length;
  }
  return text;
}

}  // namespace voduzazi::http_types::detail
