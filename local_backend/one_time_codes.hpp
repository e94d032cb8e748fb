// One-time codes of the authentication service: six digits for a user and a purpose, with the
// hash of an e-mail link beside them. Only digests are kept; a code ends after its lifetime, after
// its use, or after too many wrong tries.
//
//   auto issued = codes.issue(userId, "magiclink", now);
//   auto outcome = codes.verify(userId, {"magiclink", "signup"}, "123456", now);
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace local_backend {

struct IssuedCode {
  std::string code;       // six decimal digits
  std::string tokenHash;  // what an e-mail link carries instead of the code
};

struct CodeCheck {
  enum class Kind { accepted, invalid, tooManyAttempts };
  Kind kind = Kind::invalid;
  std::string userId;   // set when accepted
  std::string purpose;  // set when accepted
};

// Thread safety: safe. Lifetime: the server's.
class OneTimeCodes {
 public:
  OneTimeCodes(std::chrono::seconds lifetime, int maxAttempts)
      : lifetime_(lifetime), maxAttempts_(maxAttempts) {}

  // A new code for the user, replacing the user's earlier one.
  IssuedCode issue(const std::string& userId, const std::string& purpose, std::int64_t now);
  // Spends the user's code when it matches and serves one of `purposes`. Wrong tries count; the
  // last allowed one voids the code.
  CodeCheck verify(const std::string& userId, const std::vector<std::string>& purposes,
                   const std::string& code, std::int64_t now);
  // Spends the code whose link hash this is.
  CodeCheck verifyHash(const std::string& tokenHash, const std::vector<std::string>& purposes,
                       std::int64_t now);

 private:
  struct Entry {
    std::string purpose;
    std::string codeDigest;
    std::string hashDigest;
    std::int64_t expiresAt = 0;
    int failures = 0;
  };

  std::chrono::seconds lifetime_;
  int maxAttempts_;
  std::mutex mutex_;
  std::map<std::string, Entry> byUser_;
};

}  // namespace local_backend
