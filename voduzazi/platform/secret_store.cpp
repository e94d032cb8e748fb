#include "voduzazi/platform/secret_store.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "voduzazi/helpers/detail/base64.hpp"
#include "voduzazi/platform/detail/owner_only_files.hpp"

namespace voduzazi {
namespace {

constexpr std::string_view prefix = "item";
constexpr std::string_view lockPrefix = "lock";
constexpr std::size_t maximumNameLength = NAME_MAX;

// "n" for an absent value, "v" and the encoded bytes for a present one.
std::string component(const std::optional<std::string>& value) {
  return value ? "v" + detail::encodeBase64URL(*value) : std::string("n");
}

std::optional<std::optional<std::string>> parseComponent(std::string_view text) {
  if (text == "n") return std::optional<std::string>();
  if (text.empty() || text.front() != 'v') return std::nullopt;
  auto bytes = detail::decodeBase64URL(text.substr(1));
  if (!bytes) return std::nullopt;
  return std::optional<std::string>(std::move(*bytes));
}

// Items read before, kept with the state of the file they came from: a read whose file is in
// the very same state (device, inode, size, change and modification times) is served from memory
// with two lstat calls, and a missing item is known from one. Every write renames a new file over
// the item, so a change gives another inode or change time; only files whose change time was
// already a second old when read are kept, so that a change within the file system's timestamp
// granularity cannot look the same. The folder's state when it was last found trusted is kept as
// well: a folder in that same state needs no new check of its owner.
class ReadCache {
 public:
  struct Lookup {
    std::optional<std::string> bytes;
    // No such item: nothing more to read. (Missing is missing, whoever can reach the folder.)
    bool absent = false;
  };

  Lookup lookup(const std::filesystem::path& folder, const std::string& path) {
    struct ::stat status {};
    if (::lstat(path.c_str(), &status) != 0) return {std::nullopt, errno == ENOENT};
    std::lock_guard lock(mutex_);
    const auto found = items_.find(path);
    if (found == items_.end() || !sameFile(found->second.status, status)) return {};
    if (!trusts(folder)) return {};  // the full read reports what is wrong
    return {found->second.bytes};
  }

  void remember(const std::string& path, const struct ::stat& status, const std::string& bytes) {
    const auto changed = std::chrono::seconds(status.st_ctim.tv_sec) +
                         std::chrono::nanoseconds(status.st_ctim.tv_nsec);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    if (now - changed < std::chrono::seconds(1) || bytes.size() > maximumBytes) return;
    std::lock_guard lock(mutex_);
    if (items_.size() >= maximumItems) items_.clear();
    items_.insert_or_assign(path, Item{status, bytes});
  }

  void forget(const std::string& path) {
    std::lock_guard lock(mutex_);
    items_.erase(path);
  }

 private:
  static constexpr std::size_t maximumItems = 64;
  static constexpr std::size_t maximumBytes = 64 * 1024;

  struct Item {
    struct ::stat status;
    std::string bytes;
  };

  // Under mutex_. Mode and owner are compared too: a change of either within the file system's
  // timestamp granularity can leave the change time as it was.
  bool trusts(const std::filesystem::path& folder) {
    struct ::stat status {};
    if (::lstat(folder.c_str(), &status) != 0) return false;
    const auto& last = trustedFolder_;
    if (last && last->path == folder && sameFile(last->status, status) &&
        status.st_mode == last->status.st_mode && status.st_uid == last->status.st_uid) {
      return true;
    }
    if (!detail::isTrustedFolder(status)) return false;
    trustedFolder_ = TrustedFolder{folder, status};
    return true;
  }

  static bool sameFile(const struct ::stat& a, const struct ::stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
  }

  struct TrustedFolder {
    std::filesystem::path path;
    struct ::stat status;
  };

  std::mutex mutex_;
  std::unordered_map<std::string, Item> items_;
  std::optional<TrustedFolder> trustedFolder_;
};

// One per process, shared by every store; never destroyed, so late readers may still use it.
ReadCache& readCache() {
  static auto* cache = new ReadCache;
  return *cache;
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

OSStatus SecretStore::writeItem(const SecretItemQuery& query, std::string_view value,
                                Replace replace) const {
  const std::string name = fileName(query);
  if (name.size() > maximumNameLength) return secStatus::param;
  auto folder = detail::openOwnerOnlyFolder(folder_, /*create=*/true);
  const auto afterSync = [&] {
    if (hook_) hook_(WriteStep::temporaryFileSynced);
  };
  if (replace == Replace::onlyExisting) {
    // Not read first: an item that cannot be trusted (open mode, a link, too large) is replaced
    // by the new file all the same, and so the session it should hold is kept. A folder cannot
    // be moved over, and the write reports it.
    if (!detail::itemState(folder->get(), name)) return secStatus::itemNotFound;
    detail::replaceDurably(folder->get(), name, value, detail::ReplaceMode::replace, afterSync);
    return secStatus::success;
  }
  const int error = detail::replaceDurably(folder->get(), name, value,
                                           detail::ReplaceMode::createOnly, afterSync);
  if (error == EEXIST) return secStatus::duplicateItem;
  return error == 0 ? secStatus::success : secStatus::param;
}

OSStatus SecretStore::write(const SecretItemQuery& query, std::string_view value,
                            Replace replace) const {
  const OSStatus status = writeItem(query, value, replace);
  readCache().forget((folder_ / fileName(query)).string());
  return status;
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
  const std::string path = (folder_ / name).string();
  ReadCache::Lookup cached = readCache().lookup(folder_, path);
  if (cached.absent) return secStatus::itemNotFound;
  if (cached.bytes) {
    value = std::move(*cached.bytes);
    return secStatus::success;
  }
  auto folder = detail::openOwnerOnlyFolder(folder_, /*create=*/false);
  if (!folder) return secStatus::itemNotFound;
  struct ::stat status {};
  auto bytes = detail::readOwnerOnlyFile(folder->get(), name, &status);
  if (!bytes) return secStatus::itemNotFound;
  readCache().remember(path, status, *bytes);
  value = std::move(*bytes);
  return secStatus::success;
}

OSStatus SecretStore::remove(const SecretItemQuery& query) const {
  const std::string name = fileName(query);
  if (name.size() > maximumNameLength) return secStatus::param;
  auto folder = detail::openOwnerOnlyFolder(folder_, /*create=*/false);
  if (!folder) return secStatus::itemNotFound;
  const bool removed = detail::removeDurably(folder->get(), name);
  readCache().forget((folder_ / name).string());
  return removed ? secStatus::success : secStatus::itemNotFound;
}

SecretItemLock SecretStore::lockItem(const SecretItemQuery& query,
                                     std::chrono::milliseconds wait) const {
  const std::string name = std::string(lockPrefix) + fileName(query).substr(prefix.size());
  if (name.size() > maximumNameLength) {
    throw SecretStoreError("Secret store: the item's name is too long for a lock file");
  }
  auto folder = detail::openOwnerOnlyFolder(folder_, /*create=*/true);
  return SecretItemLock::acquire(folder->get(), name, wait);
}

}  // namespace voduzazi
