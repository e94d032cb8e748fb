#include "voduzazi/platform/secret_store.hpp"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "voduzazi/helpers/detail/base64.hpp"
#include "voduzazi/platform/detail/owner_only_files.hpp"

namespace voduzazi {
namespace {

constexpr std::string_view alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr std::string_view prefix = "item";
constexpr std::size_t maximumNameLength = NAME_MAX;

// Strict unpadded base64url, so that each item has exactly one name.
std::optional<std::string> decodeComponent(std::string_view text) {
  if (text.size() % 4 == 1) return std::nullopt;
  std::string bytes;
  std::uint32_t buffer = 0;
  int bits = 0;
  for (char c : text) {
    const auto index = alphabet.find(c);
    if (index == std::string_view::npos) return std::nullopt;
    buffer = (buffer << 6) | static_cast<std::uint32_t>(index);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      bytes += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  // The unused low bits must be zero, so each item has exactly one name.
  if ((buffer & ((1u << bits) - 1)) != 0) return std::nullopt;
  return bytes;
}

// "n" for an absent value, "v" and the encoded bytes for a present one.
std::string component(const std::optional<std::string>& value) {
  return value ? "v" + detail::encodeBase64URL(*value) : std::string("n");
}

std::optional<std::optional<std::string>> parseComponent(std::string_view text) {
  if (text == "n") return std::optional<std::string>();
  if (text.empty() || text.front() != 'v') return std::nullopt;
  auto bytes = decodeComponent(text.substr(1));
  if (!bytes) return std::nullopt;
  return std::optional<std::string>(std::move(*bytes));
}

}  // namespace

SecretStore::SecretStore(std::filesystem::path folder, WriteHook hook)
    : folder_(std::move(folder)), hook_(std::move(hook)) {}

std::filesystem::path SecretStore::defaultFolder() {
  std::filesystem::path data;
  const char* dataHome = std::getenv("XDG_DATA_HOME");
  if (dataHome && *dataHome == '/') {
    data = dataHome;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || *home != '/') {
      throw SecretStoreError("Secret store: neither XDG_DATA_HOME nor HOME is an absolute path");
    }
    data = std::filesystem::path(home) / ".local" / "share";
  }
  return data / "voduzazi-secrets";
}

std::string SecretStore::fileName(const SecretItemQuery& query) {
  return std::string(prefix) + "." + component(query.service) + "." + component(query.account) +
         "." + component(query.accessGroup);
}

std::optional<SecretItemQuery> SecretStore::itemQuery(std::string_view fileName) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const auto dot = fileName.find('.', start);
    parts.push_back(fileName.substr(start, dot - start));
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  if (parts.size() != 4 || parts[0] != prefix) return std::nullopt;
  auto service = parseComponent(parts[1]);
  auto account = parseComponent(parts[2]);
  auto accessGroup = parseComponent(parts[3]);
  if (!service || !account || !*account || !accessGroup) return std::nullopt;
  return SecretItemQuery{*service, **account, *accessGroup};
}

OSStatus SecretStore::write(const SecretItemQuery& query, std::string_view value,
                            Replace replace) const {
  const std::string name = fileName(query);
  if (name.size() > maximumNameLength) return secStatus::param;
  auto folder = detail::openOwnerOnlyFolder(folder_, /*create=*/true);
  const auto afterSync = [&] {
    if (hook_) hook_(WriteStep::temporaryFileSynced);
  };
  if (replace == Replace::onlyExisting) {
    // Reading also refuses an existing item that cannot be trusted.
    if (!detail::readOwnerOnlyFile(folder->get(), name)) return secStatus::itemNotFound;
    detail::replaceDurably(folder->get(), name, value, detail::ReplaceMode::replace, afterSync);
    return secStatus::success;
  }
  const int error = detail::replaceDurably(folder->get(), name, value,
                                           detail::ReplaceMode::createOnly, afterSync);
  if (error == EEXIST) return secStatus::duplicateItem;
  return error == 0 ? secStatus::success : secStatus::param;
}

OSStatus SecretStore::add(const SecretItemQuery& query, std::string_view value) const {
  return write(query, value, Replace::never);
}

OSStatus SecretStore::update(const SecretItemQuery& query, std::string_view value) const {
  return write(query, value, Replace::onlyExisting);
}

OSStatus SecretStore::copyMatching(const SecretItemQuery& query, Data& value) const {
  const std::string name = fileName(query);
  if (name.size() > maximumNameLength) return secStatus::param;
  auto folder = detail::openOwnerOnlyFolder(folder_, /*create=*/false);
  if (!folder) return secStatus::itemNotFound;
  auto bytes = detail::readOwnerOnlyFile(folder->get(), name);
  if (!bytes) return secStatus::itemNotFound;
  value = std::move(*bytes);
  return secStatus::success;
}

OSStatus SecretStore::remove(const SecretItemQuery& query) const {
  const std::string name = fileName(query);
  if (name.size() > maximumNameLength) return secStatus::param;
  auto folder = detail::openOwnerOnlyFolder(folder_, /*create=*/false);
  if (!folder) return secStatus::itemNotFound;
  return detail::removeDurably(folder->get(), name) ? secStatus::success : secStatus::itemNotFound;
}

}  // namespace voduzazi
