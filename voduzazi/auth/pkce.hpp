// PKCE: code verifiers and their S256 challenges for the browser sign-in flows.
//
//   PKCE pkce = PKCE::live();
//   std::string verifier = pkce.generateCodeVerifier();           // 86 URL-safe characters
//   std::string challenge = pkce.generateCodeChallenge(verifier);  // 43 characters
//
// Both operations may be called from any thread at once.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace voduzazi::auth {

// The secure random source failed; no verifier is made from weaker bytes.
class RandomSourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PKCE {
  // 64 secure random bytes as unpadded base64url. Throws RandomSourceError.
  std::function<std::string()> generateCodeVerifier;
  // The unpadded base64url SHA-256 of the verifier's bytes.
  std::function<std::string(const std::string& verifier)> generateCodeChallenge;

  static PKCE live();
};

}  // namespace voduzazi::auth
