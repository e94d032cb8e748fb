#include "voduzazi/platform/detail/owner_only_files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "voduzazi/platform/durable_write.hpp"
#include "voduzazi/platform/secret_store.hpp"

namespace voduzazi::detail {
namespace {

// Items are small; anything bigger is not one of ours.
constexpr off_t maximumItemSize = 16 * 1024 * 1024;

[[noreturn]] void fail(const std::string& what, int error) {
  throw SecretStoreError("Secret store: " + what + ": " + std::strerror(error));
}

std::string octal(mode_t mode) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "%04o", static_cast<unsigned>(mode & 07777));
  return text.data();
}

void makeFolders(const std::filesystem::path& folder) {
  std::filesystem::path partial;
  for (const auto& component : folder) {
    partial /= component;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
      fail("cannot create folder " + partial.string(), errno);
    }
  }
}

void syncFolder(int folder) {
  if (::fsync(folder) != 0 && errno != EINVAL) fail("cannot sync the folder", errno);
}

}  // namespace

FileDescriptor::~FileDescriptor() {
  if (fd_ >= 0) ::close(fd_);
}

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

std::optional<FileDescriptor> openOwnerOnlyFolder(const std::filesystem::path& folder,
                                                  bool create) {
  if (create) makeFolders(folder);
  FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) {
    if (errno == ENOENT && !create) return std::nullopt;
    fail("cannot open folder " + folder.string(), errno);
  }
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0) fail("cannot inspect folder " + folder.string(), errno);
  if (status.st_uid != ::geteuid()) {
    throw SecretStoreError("Secret store: folder " + folder.string() +
                           " belongs to another user; refusing to use it");
  }
  // Anyone who could write there could have planted or swapped items.
  if ((status.st_mode & 077) != 0) {
    throw SecretStoreError("Secret store: folder " + folder.string() + " has mode " +
                           octal(status.st_mode) +
                           ", open to group or others; refusing to use it (make it 0700)");
  }
  return fd;
}

int replaceDurably(int folder, const std::string& name, std::string_view bytes, ReplaceMode mode,
                   const std::function<void()>& afterSync) {
  const DurableWriteOptions options{.mode = mode == ReplaceMode::createOnly
                                                ? DurableWriteMode::createOnly
                                                : DurableWriteMode::replace,
                                    .permissions = 0600,
                                    .afterSync = afterSync};
  try {
    return writeFileDurablyAt(folder, name, bytes, options);
  } catch (const std::system_error& error) {
    if (error.code() == std::errc::is_a_directory) {
      throw SecretStoreError("Secret store: item " + name +
                             " is a folder; it cannot be replaced, remove it by hand");
    }
    throw SecretStoreError(std::string("Secret store: ") + error.what());
  }
}

std::optional<ItemState> itemState(int folder, const std::string& name) {
  struct stat status {};
  if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT || errno == ENAMETOOLONG) return std::nullopt;
    fail("cannot inspect item " + name, errno);
  }
  return S_ISDIR(status.st_mode) ? ItemState::folder : ItemState::file;
}

bool isTrustedItem(const struct ::stat& status) {
  return S_ISREG(status.st_mode) && status.st_uid == ::geteuid() && (status.st_mode & 077) == 0 &&
         status.st_size <= maximumItemSize;
}

bool isTrustedFolder(const struct ::stat& status) {
  return S_ISDIR(status.st_mode) && status.st_uid == ::geteuid() && (status.st_mode & 077) == 0;
}

std::optional<std::string> readOwnerOnlyFile(int folder, const std::string& name,
                                             struct ::stat* statusOut) {
  // Non-blocking, so that a FIFO or device in the item's place cannot hold the read up before
  // fstat refuses it; a check before the open would leave a window for a swap.
  FileDescriptor file(
      ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
  if (!file) {
    if (errno == ENOENT || errno == ENAMETOOLONG) return std::nullopt;
    if (errno == ELOOP) {
      throw SecretStoreError("Secret store: item " + name +
                             " is a symbolic link; refusing to follow it");
    }
    fail("cannot open item " + name, errno);
  }
  struct stat status {};
  if (::fstat(file.get(), &status) != 0) fail("cannot inspect item " + name, errno);
  if (!S_ISREG(status.st_mode)) {
    throw SecretStoreError("Secret store: item " + name + " is not a regular file");
  }
  if (status.st_uid != ::geteuid()) {
    throw SecretStoreError("Secret store: item " + name +
                           " belongs to another user; refusing to trust it");
  }
  if ((status.st_mode & 077) != 0) {
    throw SecretStoreError("Secret store: item " + name + " has mode " + octal(status.st_mode) +
                           ", open to group or others; refusing to trust it");
  }
  if (status.st_size > maximumItemSize) {
    throw SecretStoreError("Secret store: item " + name + " is too large to be an item");
  }
  std::string bytes;
  std::array<char, 4096> buffer{};
  while (true) {
    const ssize_t count = ::read(file.get(), buffer.data(), buffer.size());
    if (count < 0) {
      if (errno == EINTR) continue;
      fail("cannot read item " + name, errno);
    }
    if (count == 0) {
      if (statusOut) *statusOut = status;
      return bytes;
    }
    bytes.append(buffer.data(), static_cast<std::size_t>(count));
    if (bytes.size() > static_cast<std::size_t>(maximumItemSize)) {
      throw SecretStoreError("Secret store: item " + name + " is too large to be an item");
    }
  }
}

bool removeDurably(int folder, const std::string& name) {
  if (::unlinkat(folder, name.c_str(), 0) != 0) {
    if (errno == ENOENT || errno == ENAMETOOLONG) return false;
    fail("cannot remove item " + name, errno);
  }
  syncFolder(folder);
  return true;
}

}  // namespace voduzazi::detail
