// CodeVerifierStorage: keeps the PKCE code verifier of one auth client between sending the user
// to the server and exchanging the code, under the session key followed by "-code-verifier".
//
//   auto verifiers = CodeVerifierStorage::live(configuration);
//   verifiers.set(verifier);
//   std::optional<std::string> stored = verifiers.get();   // never throws
//   verifiers.set(std::nullopt);                           // removes it
//
// Operations may be called from any thread. Failures are logged at error level, never thrown,
// and the verifier itself never appears in a log line.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "voduzazi/auth/auth_storage_configuration.hpp"

namespace voduzazi::auth {

struct CodeVerifierStorage {
  // The stored verifier (ill-formed UTF-8 replaced by U+FFFD), or nothing.
  std::function<std::optional<std::string>()> get;
  // Stores the verifier, or removes it for nothing.
  std::function<void(const std::optional<std::string>&)> set;

  static CodeVerifierStorage live(AuthStorageConfigurationProvider configuration);
};

}  // namespace voduzazi::auth
