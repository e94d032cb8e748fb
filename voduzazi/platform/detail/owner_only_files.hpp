// POSIX file work for the secret store: an owned descriptor, an owner-only folder, atomic and
// durable replacement of one file in it, and reading a file only when nobody else can reach it.
#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace voduzazi::detail {

class FileDescriptor {
 public:
  explicit FileDescriptor(int fd = -1) : fd_(fd) {}
  ~FileDescriptor();
  FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
  FileDescriptor& operator=(FileDescriptor&& other) noexcept;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Opens the folder without following a symbolic link; with `create`, makes it and its missing
// parents with mode 0700 first. Nothing when it is missing and `create` is false. Throws
// SecretStoreError when it is not a folder of this user or is open to group or others.
std::optional<FileDescriptor> openOwnerOnlyFolder(const std::filesystem::path& folder, bool create);

enum class ReplaceMode {
  createOnly,  // fails with EEXIST when the name exists
  replace,     // renames over the name
};

// writeFileDurablyAt with mode 0600: returns 0 or the errno of the move (EEXIST for createOnly);
// throws SecretStoreError for other failures, a clear one when `name` is a folder. Whatever file
// or link held the name is replaced, never read or followed.
int replaceDurably(int folder, const std::string& name, std::string_view bytes, ReplaceMode mode,
                   const std::function<void()>& afterSync);

enum class ItemState { file, folder };
// What holds the name, without following a link (a link counts as a file); nothing when absent.
std::optional<ItemState> itemState(int folder, const std::string& name);

// The file's bytes, or nothing when it does not exist; never waits on a FIFO or a device. Throws
// SecretStoreError when it is not a regular file of this user with no group or other access bits.
// `status`, when given, receives the state of the file that was read.
std::optional<std::string> readOwnerOnlyFile(int folder, const std::string& name,
                                             struct ::stat* status = nullptr);

// Whether a file in this state is one readOwnerOnlyFile trusts.
bool isTrustedItem(const struct ::stat& status);
// Whether a folder in this state is one openOwnerOnlyFolder trusts.
bool isTrustedFolder(const struct ::stat& status);

// Removes the file and syncs the folder; false when it did not exist.
bool removeDurably(int folder, const std::string& name);

}  // namespace voduzazi::detail
