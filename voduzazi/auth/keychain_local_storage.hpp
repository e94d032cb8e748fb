// KeychainLocalStorage: the AuthLocalStorage that keeps each key as a generic-password item of the
// secret store, and KeychainError, which names the store's status codes.
//
//   KeychainLocalStorage storage("voduzazi.vuvere.swift");
//   storage.store("voduzazi.auth.token", bytes);
//   try { auto bytes = storage.retrieve("voduzazi.auth.token"); }
//   catch (const KeychainError& error) { /* error.code() == itemNotFound when never stored */ }
//
// Shared objects: safe; each operation is one or two atomic store calls.
#pragma once

#include <chrono>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "voduzazi/auth/auth_local_storage.hpp"
#include "voduzazi/platform/secret_store.hpp"

namespace voduzazi::auth {

class KeychainError : public std::exception {
 public:
  class Code {
   public:
    enum class Kind {
      other,
      unknown,
      operationNotImplemented,
      invalidParameters,
      userCanceled,
      itemNotAvailable,
      authFailed,
      duplicateItem,
      itemNotFound,
      interactionNotAllowed,
      decodeFailed
    };

    // The named case for the known statuses, `other` for every other one (0 included).
    static Code fromRawValue(OSStatus status);
    static Code other(OSStatus status) { return Code(Kind::other, status, {}); }
    // Raw status 0.
    static Code unknown(std::string message) { return Code(Kind::unknown, 0, std::move(message)); }

    Kind kind() const { return kind_; }
    OSStatus rawValue() const { return rawValue_; }
    // "errSecItemNotFound: The item cannot be found.", "Unspecified Keychain error: 7.", ...
    std::string text() const;

    // Codes are equal when their raw statuses are.
    friend bool operator==(const Code& left, const Code& right) {
      return left.rawValue_ == right.rawValue_;
    }

   private:
    Code(Kind kind, OSStatus rawValue, std::string message)
        : kind_(kind), rawValue_(rawValue), message_(std::move(message)) {}

    Kind kind_;
    OSStatus rawValue_;
    std::string message_;  // of `unknown`
  };

  explicit KeychainError(Code code) : code_(std::move(code)), text_(code_.text()) {}

  const Code& code() const { return code_; }
  const char* what() const noexcept override { return text_.c_str(); }
  const std::string& debugDescription() const { return text_; }

  friend bool operator==(const KeychainError& left, const KeychainError& right) {
    return left.code_ == right.code_ && left.text_ == right.text_;
  }

 private:
  Code code_;
  std::string text_;
};

class KeychainLocalStorage : public AuthLocalStorage {
 public:
  // Items in SecretStore::defaultFolder(), or in `folder` when given.
  explicit KeychainLocalStorage(std::optional<std::string> service = std::nullopt,
                                std::optional<std::string> accessGroup = std::nullopt,
                                std::optional<std::filesystem::path> folder = std::nullopt);

  // Adds the item, or replaces the bytes of an existing one. Throws KeychainError.
  void store(const std::string& key, const Data& value) override;
  // The bytes; throws KeychainError (itemNotFound when nothing is stored, so never nothing).
  std::optional<Data> retrieve(const std::string& key) override;
  // Throws KeychainError (itemNotFound when nothing is stored).
  void remove(const std::string& key) override;
  // As retrieve, but nothing (instead of itemNotFound) when nothing is stored: a probe for a key
  // that is usually absent, without the cost of an exception. Throws KeychainError otherwise.
  std::optional<Data> retrieveIfPresent(const std::string& key);
  // Waits at most `wait` until no other holder, in this process or another, has the lock of the
  // key's item, and holds it until the lock is destroyed. Throws KeychainError (unknown) when the
  // wait times out or the store cannot be used.
  SecretItemLock lock(const std::string& key, std::chrono::milliseconds wait);

  const std::optional<std::string>& service() const { return service_; }
  const std::optional<std::string>& accessGroup() const { return accessGroup_; }

 private:
  SecretItemQuery query(const std::string& key) const;

  std::optional<std::string> service_;
  std::optional<std::string> accessGroup_;
  std::optional<std::filesystem::path> folder_;
};

// The shared keychain store with service "voduzazi.vuvere.swift", made on first use.
const std::shared_ptr<AuthLocalStorage>& defaultLocalStorage();

}  // namespace voduzazi::auth
