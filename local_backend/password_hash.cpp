#include "local_backend/password_hash.hpp"

#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <stdexcept>

#include "local_backend/detail/crypto.hpp"

namespace local_backend {

namespace {

// 2^14 iterations of 8-block rows: 16 MiB and a few tens of milliseconds per hash.
constexpr int kLogN = 14;
constexpr int kBlockSize = 8;
constexpr int kParallelism = 1;
constexpr std::size_t kSaltBytes = 16;
constexpr std::size_t kKeyBytes = 32;
constexpr std::uint64_t kMaxMemory = 256ull * 1024 * 1024;

struct Parameters {
  int logN;
  int blockSize;
  int parallelism;
};

std::optional<std::string> derive(std::string_view password, std::string_view salt,
                                  const Parameters& p, std::size_t keyBytes) {
  std::string key(keyBytes, '\0');
  const int ok = EVP_PBE_scrypt(password.data(), password.size(),
                                reinterpret_cast<const unsigned char*>(salt.data()), salt.size(),
                                std::uint64_t{1} << p.logN, static_cast<std::uint64_t>(p.blockSize),
                                static_cast<std::uint64_t>(p.parallelism), kMaxMemory,
                                reinterpret_cast<unsigned char*>(key.data()), key.size());
  if (ok != 1) return std::nullopt;
  return key;
}

}  // namespace

std::string hashPassword(std::string_view password) {
  const Parameters p{kLogN, kBlockSize, kParallelism};
  const std::string salt = detail::randomBytes(kSaltBytes);
  const auto key = derive(password, salt, p, kKeyBytes);
  if (!key) throw std::runtime_error("scrypt failed");
  char params[48];
  std::snprintf(params, sizeof params, "$scrypt$ln=%d,r=%d,p=%d$", p.logN, p.blockSize,
                p.parallelism);
  return params + detail::base64Encode(salt) + "$" + detail::base64Encode(*key);
}

bool verifyPassword(std::string_view password, std::string_view stored) {
  Parameters p{};
  int consumed = 0;
  const std::string text(stored);
  if (std::sscanf(text.c_str(), "$scrypt$ln=%d,r=%d,p=%d$%n", &p.logN, &p.blockSize, &p.parallelism,
                  &consumed) != 3 ||
      consumed == 0 || p.logN < 1 || p.logN > 24 || p.blockSize < 1 || p.blockSize > 64 ||
      p.parallelism < 1 || p.parallelism > 16) {
    return false;
  }
  const std::string_view rest = std::string_view(text).substr(static_cast<std::size_t>(consumed));
  const auto dollar = rest.find('$');
  if (dollar == std::string_view::npos) return false;
  const auto salt = detail::base64Decode(rest.substr(0, dollar));
  const auto expected = detail::base64Decode(rest.substr(dollar + 1));
  if (!salt || !expected || expected->empty()) return false;
  const auto key = derive(password, *salt, p, expected->size());
  return key && detail::constantTimeEquals(*key, *expected);
}

}  // namespace local_backend
