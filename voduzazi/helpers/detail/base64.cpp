#include "voduzazi/helpers/detail/base64.hpp"

#include <array>
#include <cstdint>

namespace voduzazi::detail {
namespace {

constexpr std::array<std::int8_t, 256> makeTable() {
  std::array<std::int8_t, 256> table{};
  for (auto& entry : table) entry = -1;
  constexpr std::string_view alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (std::size_t i = 0; i < alphabet.size(); ++i) {
    table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
  }
  return table;
}

constexpr auto table = makeTable();

constexpr std::string_view urlAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

}  // namespace

std::optional<std::string> decodeBase64(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3 + 3);
  std::uint32_t buffer = 0;
  int bits = 0;
  std::size_t symbols = 0;
  bool padding = false;
  for (const char c : text) {
    if (c == '=') {
      padding = true;
      continue;
    }
    const std::int8_t sextet = table[static_cast<unsigned char>(c)];
    if (sextet < 0) continue;
    if (padding) return std::nullopt;  // data after padding
    buffer = (buffer << 6) | static_cast<std::uint32_t>(sextet);
    bits += 6;
    ++symbols;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  if (symbols % 4 == 1) return std::nullopt;
  return bytes;
}

std::string encodeBase64URL(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() * 4 + 2) / 3);
  std::uint32_t buffer = 0;
  int bits = 0;
  for (unsigned char byte : bytes) {
    buffer = (buffer << 8) | byte;
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      text += urlAlphabet[(buffer >> bits) & 0x3F];
    }
  }
  if (bits > 0) text += urlAlphabet[(buffer << (6 - bits)) & 0x3F];
  return text;
}

std::optional<std::string> decodeBase64URL(std::string_view text) {
  if (text.size() % 4 == 1) return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() * 3 / 4);
  std::uint32_t buffer = 0;
  int bits = 0;
  for (const char c : text) {
    const auto index = urlAlphabet.find(c);
    if (index == std::string_view::npos) return std::nullopt;
    buffer = (buffer << 6) | static_cast<std::uint32_t>(index);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes.push_back(static_cast<char>((buffer >> bits) & 0xFF));
    }
  }
  if ((buffer & ((1u << bits) - 1)) != 0) return std::nullopt;
  return bytes;
}

}  // namespace voduzazi::detail
