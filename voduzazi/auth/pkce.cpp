#include "voduzazi/auth/pkce.hpp"

#include <openssl/err.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <array>

#include "voduzazi/helpers/detail/base64.hpp"

namespace voduzazi::auth {
namespace {

constexpr std::size_t verifierByteCount = 64;

std::string generateVerifier() {
  std::array<unsigned char, verifierByteCount> bytes{};
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    const unsigned long code = ERR_get_error();
    std::array<char, 256> reason{};
    ERR_error_string_n(code, reason.data(), reason.size());
    throw RandomSourceError(std::string("The secure random source failed: ") + reason.data());
  }
  return voduzazi::detail::encodeBase64URL(
      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string challengeFor(const std::string& verifier) {
  std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
  SHA256(reinterpret_cast<const unsigned char*>(verifier.data()), verifier.size(), digest.data());
  return voduzazi::detail::encodeBase64URL(
      std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

}  // namespace

PKCE PKCE::live() { return {generateVerifier, challengeFor}; }

}  // namespace voduzazi::auth
