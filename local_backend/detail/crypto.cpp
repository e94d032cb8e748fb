#include "local_backend/detail/crypto.hpp"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <array>
#include <stdexcept>

namespace local_backend::detail {

namespace {

constexpr std::string_view kBase64Url =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::string_view kBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string encode(std::string_view data, std::string_view alphabet, bool pad) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(data[i]) << 16 |
                       static_cast<unsigned char>(data[i + 1]) << 8 |
                       static_cast<unsigned char>(data[i + 2]);
    out += alphabet[v >> 18 & 63];
    out += alphabet[v >> 12 & 63];
    out += alphabet[v >> 6 & 63];
    out += alphabet[v & 63];
  }
  const std::size_t rest = data.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(data[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(data[i + 1]) << 8;
    out += alphabet[v >> 18 & 63];
    out += alphabet[v >> 12 & 63];
    if (rest == 2) out += alphabet[v >> 6 & 63];
    if (pad) out.append(3 - rest, '=');
  }
  return out;
}

std::optional<std::string> decode(std::string_view text, std::string_view alphabet, bool padded) {
  // Unpadded text has one spelling only; "=" is then outside the alphabet and refused.
  while (padded && !text.empty() && text.back() == '=') text.remove_suffix(1);
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  out.reserve(text.size() * 3 / 4);
  unsigned buffer = 0;
  int bits = 0;
  for (const char c : text) {
    const auto index = alphabet.find(c);
    if (index == std::string_view::npos) return std::nullopt;
    buffer = buffer << 6 | static_cast<unsigned>(index);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>(buffer >> bits & 0xFF);
    }
  }
  // Leftover bits must be zero: otherwise several spellings would decode to the same bytes, and a
  // token could be altered without touching its signature.
  if ((buffer & ((1u << bits) - 1)) != 0) return std::nullopt;
  return out;
}

}  // namespace

std::string randomBytes(std::size_t count) {
  std::string bytes(count, '\0');
  if (count > 0 &&
      RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), static_cast<int>(count)) != 1) {
    throw std::runtime_error("the secure random source failed");
  }
  return bytes;
}

std::string randomUuid() {
  std::string bytes = randomBytes(16);
  bytes[6] = static_cast<char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<char>((bytes[8] & 0x3F) | 0x80);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(36);
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    const auto byte = static_cast<unsigned char>(bytes[i]);
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}

std::string sha256(std::string_view data) {
  std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
  SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data());
  return std::string(reinterpret_cast<const char*>(digest.data()), digest.size());
}

std::string sha256Hex(std::string_view data) {
  const std::string digest = sha256(data);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  text.reserve(digest.size() * 2);
  for (const char c : digest) {
    const auto byte = static_cast<unsigned char>(c);
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return text;
}

std::string hmacSha256(std::string_view key, std::string_view data) {
  std::array<unsigned char, EVP_MAX_MD_SIZE> mac{};
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(data.data()), data.size(), mac.data(),
           &length) == nullptr) {
    throw std::runtime_error("HMAC-SHA-256 failed");
  }
  return std::string(reinterpret_cast<const char*>(mac.data()), length);
}

std::string base64UrlEncode(std::string_view data) { return encode(data, kBase64Url, false); }

std::optional<std::string> base64UrlDecode(std::string_view text) {
  return decode(text, kBase64Url, false);
}

std::string base64Encode(std::string_view data) { return encode(data, kBase64, true); }

std::optional<std::string> base64Decode(std::string_view text) {
  return decode(text, kBase64, true);
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  return CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace local_backend::detail
