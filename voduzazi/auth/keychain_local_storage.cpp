#include "voduzazi/auth/keychain_local_storage.hpp"

#include <array>
#include <string_view>

namespace voduzazi::auth {
namespace {

struct KnownStatus {
  KeychainError::Code::Kind kind;
  OSStatus status;
  std::string_view text;
};

constexpr std::array<KnownStatus, 9> knownStatuses{{
    {KeychainError::Code::Kind::operationNotImplemented, secStatus::unimplemented,
     "errSecUnimplemented: A function or operation is not implemented."},
    {KeychainError::Code::Kind::invalidParameters, secStatus::param,
     "errSecParam: One or more parameters passed to the function are not valid."},
    {KeychainError::Code::Kind::userCanceled, secStatus::userCanceled,
     "errSecUserCanceled: User canceled the operation."},
    {KeychainError::Code::Kind::itemNotAvailable, secStatus::notAvailable,
     "errSecNotAvailable: No trust results are available."},
    {KeychainError::Code::Kind::authFailed, secStatus::authFailed,
     "errSecAuthFailed: Authorization and/or authentication failed."},
    {KeychainError::Code::Kind::duplicateItem, secStatus::duplicateItem,
     "errSecDuplicateItem: The item already exists."},
    {KeychainError::Code::Kind::itemNotFound, secStatus::itemNotFound,
     "errSecItemNotFound: The item cannot be found."},
    {KeychainError::Code::Kind::interactionNotAllowed, secStatus::interactionNotAllowed,
     "errSecInteractionNotAllowed: Interaction with the Security Server is not allowed."},
    {KeychainError::Code::Kind::decodeFailed, secStatus::decode,
     "errSecDecode: Unable to decode the provided data."},
}};

void check(OSStatus status) {
  if (status != secStatus::success) throw KeychainError(KeychainError::Code::fromRawValue(status));
}

// A store that cannot be used or trusted is a keychain failure with the store's own explanation.
template <class Operation>
auto translatingStoreErrors(Operation operation) {
  try {
    return operation();
  } catch (const SecretStoreError& error) {
    throw KeychainError(KeychainError::Code::unknown(error.what()));
  }
}

}  // namespace

KeychainError::Code KeychainError::Code::fromRawValue(OSStatus status) {
  for (const KnownStatus& known : knownStatuses) {
    if (known.status == status) return Code(known.kind, status, {});
  }
  return other(status);
}

std::string KeychainError::Code::text() const {
  switch (kind_) {
    case Kind::other:
      return "Unspecified Keychain error: " + std::to_string(rawValue_) + ".";
    case Kind::unknown:
      return "Unknown error: " + message_ + ".";
    default:
      for (const KnownStatus& known : knownStatuses) {
        if (known.kind == kind_) return std::string(known.text);
      }
  }
  return {};
}

KeychainLocalStorage::KeychainLocalStorage(std::optional<std::string> service,
                                           std::optional<std::string> accessGroup,
                                           std::optional<std::filesystem::path> folder)
    : service_(std::move(service)),
      accessGroup_(std::move(accessGroup)),
      folder_(std::move(folder)) {}

SecretItemQuery KeychainLocalStorage::query(const std::string& key) const {
  return {service_, key, accessGroup_};
}

void KeychainLocalStorage::store(const std::string& key, const Data& value) {
  translatingStoreErrors([&] {
    SecretStore secrets(folder_ ? *folder_ : SecretStore::defaultFolder());
    const OSStatus added = secrets.add(query(key), value);
    if (added == secStatus::duplicateItem) {
      check(secrets.update(query(key), value));
    } else {
      check(added);
    }
  });
}

std::optional<Data> KeychainLocalStorage::retrieve(const std::string& key) {
  std::optional<Data> value = retrieveIfPresent(key);
  if (!value) check(secStatus::itemNotFound);
  return value;
}

std::optional<Data> KeychainLocalStorage::retrieveIfPresent(const std::string& key) {
  return translatingStoreErrors([&] {
    Data value;
    SecretStore secrets(folder_ ? *folder_ : SecretStore::defaultFolder());
    const OSStatus status = secrets.copyMatching(query(key), value);
    if (status == secStatus::itemNotFound) return std::optional<Data>();
    check(status);
    return std::optional<Data>(std::move(value));
  });
}

void KeychainLocalStorage::remove(const std::string& key) {
  translatingStoreErrors([&] {
    SecretStore secrets(folder_ ? *folder_ : SecretStore::defaultFolder());
    check(secrets.remove(query(key)));
  });
}

SecretItemLock KeychainLocalStorage::lock(const std::string& key, std::chrono::milliseconds wait) {
  return translatingStoreErrors([&] {
    return SecretStore(folder_ ? *folder_ : SecretStore::defaultFolder())
        .lockItem(query(key), wait);
  });
}

const std::shared_ptr<AuthLocalStorage>& defaultLocalStorage() {
  static const auto* const storage = new std::shared_ptr<AuthLocalStorage>(
      std::make_shared<KeychainLocalStorage>("voduzazi.vuvere.swift"));
  return *storage;
}

}  // namespace voduzazi::auth
