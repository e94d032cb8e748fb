#include "local_backend/one_time_codes.hpp"

#include <algorithm>

#include "local_backend/detail/crypto.hpp"

namespace local_backend {

namespace {

std::string sixDigits() {
  const std::string bytes = detail::randomBytes(4);
  std::uint32_t number = 0;
  for (const char byte : bytes) number = (number << 8) | static_cast<unsigned char>(byte);
  std::string code = std::to_string(number % 1'000'000);
  return std::string(6 - code.size(), '0') + code;
}

bool serves(const std::vector<std::string>& purposes, const std::string& purpose) {
  return std::find(purposes.begin(), purposes.end(), purpose) != purposes.end();
}

}  // namespace

IssuedCode OneTimeCodes::issue(const std::string& userId, const std::string& purpose,
                               std::int64_t now) {
  IssuedCode issued{sixDigits(), detail::sha256Hex(detail::randomBytes(24))};
  std::lock_guard lock(mutex_);
  byUser_[userId] = Entry{purpose, detail::sha256Hex(issued.code),
                          detail::sha256Hex(issued.tokenHash), now + lifetime_.count(), 0};
  return issued;
}

CodeCheck OneTimeCodes::verify(const std::string& userId, const std::vector<std::string>& purposes,
                               const std::string& code, std::int64_t now) {
  std::lock_guard lock(mutex_);
  const auto it = byUser_.find(userId);
  if (it == byUser_.end()) return {};
  Entry& entry = it->second;
  const bool matches = detail::constantTimeEquals(entry.codeDigest, detail::sha256Hex(code));
  if (matches && entry.expiresAt > now && serves(purposes, entry.purpose)) {
    CodeCheck accepted{CodeCheck::Kind::accepted, userId, entry.purpose};
    byUser_.erase(it);
    return accepted;
  }
  if (++entry.failures >= maxAttempts_) {
    byUser_.erase(it);
    return {CodeCheck::Kind::tooManyAttempts, {}, {}};
  }
  return {};
}

CodeCheck OneTimeCodes::verifyHash(const std::string& tokenHash,
                                   const std::vector<std::string>& purposes, std::int64_t now) {
  const std::string digest = detail::sha256Hex(tokenHash);
  std::lock_guard lock(mutex_);
  for (auto it = byUser_.begin(); it != byUser_.end(); ++it) {
    if (!detail::constantTimeEquals(it->second.hashDigest, digest)) continue;
    if (it->second.expiresAt <= now || !serves(purposes, it->second.purpose)) return {};
    CodeCheck accepted{CodeCheck::Kind::accepted, it->first, it->second.purpose};
    byUser_.erase(it);
    return accepted;
  }
  return {};
}

}  // namespace local_backend
