#include "voduzazi/auth/code_verifier_storage.hpp"

#include "voduzazi/http_types/detail/utf8.hpp"

namespace voduzazi::auth {
namespace {

LogSite site(std::uint32_t line) { return {"Auth/CodeVerifierStorage", "live(clientID:)", line}; }

std::string verifierKey(const AuthStorageConfiguration& configuration) {
  return configuration.sessionKey() + "-code-verifier";
}

}  // namespace

CodeVerifierStorage CodeVerifierStorage::live(AuthStorageConfigurationProvider configuration) {
  CodeVerifierStorage storage;
  storage.get = [configuration]() -> std::optional<std::string> {
    const AuthStorageConfiguration current = configuration();
    std::optional<Data> bytes;
    try {
      bytes = current.localStorage->retrieve(verifierKey(current));
    } catch (const std::exception& error) {
      if (current.logger) {
        current.logger->error(std::string("Failure loading code verifier: ") + error.what(), {},
                              site(__LINE__));
      }
      return std::nullopt;
    }
    if (!bytes) {
      if (current.logger) current.logger->debug("Code verifier not found.", {}, site(__LINE__));
      return std::nullopt;
    }
    return http_types::detail::repairedUTF8(*bytes);
  };
  storage.set = [configuration](const std::optional<std::string>& value) {
    const AuthStorageConfiguration current = configuration();
    try {
      if (value) {
        current.localStorage->store(verifierKey(current), *value);
      } else {
        current.localStorage->remove(verifierKey(current));
      }
    } catch (const std::exception& error) {
      if (current.logger) {
        current.logger->error(std::string("Failure storing code verifier: ") + error.what(), {},
                              site(__LINE__));
      }
    }
  };
  return storage;
}

}  // namespace voduzazi::auth
