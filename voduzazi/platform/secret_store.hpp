// SecretStore: generic-password items (service, account, access group) kept as owner-only files,
// the desktop's stand-in for a system keychain. Results are the keychain's status codes.
//
//   SecretStore store(SecretStore::defaultFolder());
//   SecretItemQuery query{.service = "app", .account = "session"};
//   if (store.add(query, bytes) == secStatus::duplicateItem) store.update(query, bytes);
//   Data value;
//   if (store.copyMatching(query, value) == secStatus::success) use(value);
//
// Each item is one file of mode 0600 in a folder of mode 0700; its name encodes service, account
// and access group reversibly, so no key can name a path outside the folder. Every write goes to
// a new temporary file that is synced and then renamed over the item, and the folder is synced:
// after a crash the item holds its old bytes or its new ones, never a mix.
//
// Reads of an item whose file has not changed for a second are served from a small process-wide
// cache after checking the file's identity, size and times, so another process's write is always
// seen.
//
// Shared objects: safe; each call is atomic on its own. Two writers of one item: the last rename
// wins; lockItem lets programs sharing the store take turns at a read-ask-write cycle.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "voduzazi/helpers/data.hpp"
#include "voduzazi/platform/secret_item_lock.hpp"

namespace voduzazi {

using OSStatus = std::int32_t;

// The keychain's status codes.
namespace secStatus {
inline constexpr OSStatus success = 0;
inline constexpr OSStatus unimplemented = -4;
inline constexpr OSStatus param = -50;
inline constexpr OSStatus userCanceled = -128;
inline constexpr OSStatus notAvailable = -25291;
inline constexpr OSStatus authFailed = -25293;
inline constexpr OSStatus duplicateItem = -25299;
inline constexpr OSStatus itemNotFound = -25300;
inline constexpr OSStatus interactionNotAllowed = -25308;
inline constexpr OSStatus decode = -26275;
}  // namespace secStatus

// Which item: service and access group take part only when present (absent differs from empty).
struct SecretItemQuery {
  std::optional<std::string> service{};
  std::string account{};
  std::optional<std::string> accessGroup{};

  bool operator==(const SecretItemQuery&) const = default;
};

// A failure of the file system, or an item or folder that cannot be trusted (another owner,
// group or other access bits, not a regular file). The message names the file, never its bytes.
class SecretStoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SecretStore {
 public:
  // Points of a write at which a test may stop it by throwing from the hook.
  enum class WriteStep { temporaryFileSynced };
  using WriteHook = std::function<void(WriteStep)>;

  // The folder is created (mode 0700, missing parents too) at the first write; an existing one
  // keeps its mode but must belong to this user and be closed to group and others.
  explicit SecretStore(std::filesystem::path folder, WriteHook hook = {});

  // $XDG_DATA_HOME (or ~/.local/share) followed by "voduzazi-secrets".
  static std::filesystem::path defaultFolder();

  // Each returns success or the failing status; throws SecretStoreError as described above.
  // A name too long for the file system gives secStatus::param.
  OSStatus add(const SecretItemQuery& query, std::string_view value) const;  // duplicateItem
  // update replaces an item that reads would refuse (a link, open mode, too large), never
  // following a link; an item that is a folder throws.
  OSStatus update(const SecretItemQuery& query, std::string_view value) const;  // itemNotFound
  OSStatus copyMatching(const SecretItemQuery& query, Data& value) const;       // itemNotFound
  OSStatus remove(const SecretItemQuery& query) const;                          // itemNotFound

  // Waits at most `wait` until no other holder, in this process or another, has the item's lock,
  // then holds it until the lock is destroyed (see secret_item_lock.hpp); the item need not
  // exist. Throws SecretStoreError as described above, when the wait times out, or for a name too
  // long for the file system.
  SecretItemLock lockItem(const SecretItemQuery& query, std::chrono::milliseconds wait) const;

  const std::filesystem::path& folder() const { return folder_; }

  // The file name of an item, and the item a file name stands for (nothing for other files).
  // The item's lock file is named alike, with "lock" in place of "item".
  static std::string fileName(const SecretItemQuery& query);
  static std::optional<SecretItemQuery> itemQuery(std::string_view fileName);

 private:
  enum class Replace { never, onlyExisting };
  OSStatus write(const SecretItemQuery& query, std::string_view value, Replace replace) const;
  OSStatus writeItem(const SecretItemQuery& query, std::string_view value, Replace replace) const;

  std::filesystem::path folder_;
  WriteHook hook_;
};

}  // namespace voduzazi
