#include "local_backend/totp.hpp"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <boost/url/encode.hpp>
#include <boost/url/rfc/unreserved_chars.hpp>
#include <stdexcept>

#include "local_backend/detail/crypto.hpp"

namespace local_backend::totp {

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ234567";

std::string hmacSha1(std::string_view key, std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest,
           &length) == nullptr) {
    throw std::runtime_error("HMAC-SHA-1 failed");
  }
  return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string escaped(std::string_view text) {
  return boost::urls::encode(text, boost::urls::unreserved_chars);
}

}  // namespace

std::string newSecret() { return base32Encode(detail::randomBytes(20)); }

std::string base32Encode(std::string_view bytes) {
  std::string out;
  std::uint32_t buffer = 0;
  int bits = 0;
  for (const char byte : bytes) {
    buffer = (buffer << 8) | static_cast<unsigned char>(byte);
    bits += 8;
    while (bits >= 5) {
      out += kAlphabet[(buffer >> (bits - 5)) & 0x1F];
      bits -= 5;
    }
  }
  if (bits > 0) out += kAlphabet[(buffer << (5 - bits)) & 0x1F];
  return out;
}

std::optional<std::string> base32Decode(std::string_view text) {
  std::string out;
  std::uint32_t buffer = 0;
  int bits = 0;
  for (char c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    const auto index = kAlphabet.find(c);
    if (index == std::string_view::npos) return std::nullopt;
    buffer = (buffer << 5) | static_cast<std::uint32_t>(index);
    bits += 5;
    if (bits >= 8) {
      out += static_cast<char>((buffer >> (bits - 8)) & 0xFF);
      bits -= 8;
    }
  }
  return out;
}

std::int64_t stepAt(std::int64_t unixSeconds) { return unixSeconds / kStepSeconds; }

std::string code(std::string_view secret, std::int64_t step) {
  const auto key = base32Decode(secret);
  if (!key) return {};
  std::string counter(8, '\0');
  for (int i = 7; i >= 0; --i) {
    counter[static_cast<std::size_t>(i)] = static_cast<char>(step & 0xFF);
    step >>= 8;
  }
  const std::string mac = hmacSha1(*key, counter);
  const std::size_t offset = static_cast<unsigned char>(mac.back()) & 0x0F;
  const std::uint32_t binary =
      (static_cast<std::uint32_t>(mac[offset] & 0x7F) << 24) |
      (static_cast<std::uint32_t>(static_cast<unsigned char>(mac[offset + 1])) << 16) |
      (static_cast<std::uint32_t>(static_cast<unsigned char>(mac[offset + 2])) << 8) |
      static_cast<std::uint32_t>(static_cast<unsigned char>(mac[offset + 3]));
  std::string digits = std::to_string(binary % 1'000'000);
  return std::string(6 - digits.size(), '0') + digits;
}

std::optional<std::int64_t> matchingStep(std::string_view secret, std::string_view candidate,
                                         std::int64_t unixSeconds) {
  if (candidate.size() != 6) return std::nullopt;
  const std::int64_t now = stepAt(unixSeconds);
  for (std::int64_t step = now - 1; step <= now + 1; ++step) {
    if (detail::constantTimeEquals(code(secret, step), candidate)) return step;
  }
  return std::nullopt;
}

std::string provisioningURI(std::string_view secret, std::string_view issuer,
                            std::string_view account) {
  return "otpauth://totp/" + escaped(issuer) + ":" + escaped(account) +
         "?secret=" + std::string(secret) + "&issuer=" + escaped(issuer);
}

}  // namespace local_backend::totp
