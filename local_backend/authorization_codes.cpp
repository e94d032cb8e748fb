#include "local_backend/authorization_codes.hpp"

#include "local_backend/detail/crypto.hpp"

namespace local_backend {

std::string AuthorizationCodes::issue(AuthorizationGrant grant, std::int64_t now) {
  std::string code = detail::randomUuid();
  std::lock_guard lock(mutex_);
  // Codes that were never exchanged are dropped once they expire.
  std::erase_if(codes_, [now](const auto& item) { return item.second.expiresAt <= now; });
  codes_[detail::sha256Hex(code)] = Entry{std::move(grant), now + lifetime_.count()};
  return code;
}

CodeExchange AuthorizationCodes::exchange(const std::string& code, const std::string& verifier,
                                          std::int64_t now) {
  Entry entry;
  {
    std::lock_guard lock(mutex_);
    const auto it = codes_.find(detail::sha256Hex(code));
    if (it == codes_.end()) return {};
    entry = std::move(it->second);
    codes_.erase(it);
  }
  if (entry.expiresAt <= now) return {CodeExchange::Kind::expired, {}};
  const std::string challenge = challengeOf(verifier, entry.grant.method);
  if (challenge.empty() || !detail::constantTimeEquals(challenge, entry.grant.codeChallenge)) {
    return {CodeExchange::Kind::badVerifier, {}};
  }
  return {CodeExchange::Kind::granted, std::move(entry.grant)};
}

std::string AuthorizationCodes::challengeOf(const std::string& verifier,
                                            const std::string& method) {
  if (method == "plain") return verifier;
  if (method == "s256") return detail::base64UrlEncode(detail::sha256(verifier));
  return {};
}

}  // namespace local_backend
