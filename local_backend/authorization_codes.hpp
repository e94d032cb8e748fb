// Authorization codes of the PKCE flow: a code stands for a signed-in user until it is exchanged
// once, with the verifier whose S256 (or plain) challenge it was issued for.
//
//   std::string code = codes.issue({userId, challenge, "s256", "oauth"}, now);
//   auto outcome = codes.exchange(code, verifier, now);   // the grant, or why it failed
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace local_backend {

struct AuthorizationGrant {
  std::string userId;
  std::string codeChallenge;
  std::string method;        // "s256" or "plain"
  std::string signInMethod;  // the session's "amr" method
};

struct CodeExchange {
  enum class Kind { granted, unknownCode, expired, badVerifier };
  Kind kind = Kind::unknownCode;
  AuthorizationGrant grant;  // set when granted
};

// Thread safety: safe. Lifetime: the server's.
class AuthorizationCodes {
 public:
  explicit AuthorizationCodes(std::chrono::seconds lifetime) : lifetime_(lifetime) {}

  std::string issue(AuthorizationGrant grant, std::int64_t now);
  // Every outcome spends the code: a second exchange of one code is an unknown code.
  CodeExchange exchange(const std::string& code, const std::string& verifier, std::int64_t now);

  // The challenge a verifier gives with `method`; empty for an unknown method.
  static std::string challengeOf(const std::string& verifier, const std::string& method);

 private:
  struct Entry {
    AuthorizationGrant grant;
    std::int64_t expiresAt = 0;
  };

  std::chrono::seconds lifetime_;
  std::mutex mutex_;
  std::map<std::string, Entry> codes_;
};

}  // namespace local_backend
