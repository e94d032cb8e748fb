#include "voduzazi/platform/detail/owner_only_files.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

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

std::string temporaryName() {
  std::array<unsigned char, 12> random{};
  if (::getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size())) {
    fail("no random bytes for a temporary file name", errno);
  }
  static constexpr char digits[] = "0123456789abcdef";
  std::string name = ".tmp.";
  for (unsigned char byte : random) {
    name += digits[byte >> 4];
    name += digits[byte & 0x0F];
  }
  return name;
}

void writeAll(int fd, std::string_view bytes, const std::string& name) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      fail("cannot write " + name, errno);
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

void syncFolder(int folder) {
  if (::fsync(folder) != 0 && errno != EINVAL) fail("cannot sync the folder", errno);
}

// Moves `from` to `to` only when `to` is absent; falls back to a hard link where the file system
// has no exclusive rename.
int moveWithoutReplacing(int folder, const std::string& from, const std::string& to) {
  if (::renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  if (::linkat(folder, from.c_str(), folder, to.c_str(), 0) != 0) return errno;
  ::unlinkat(folder, from.c_str(), 0);
  return 0;
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
  return fd;
}

int replaceDurably(int folder, const std::string& name, std::string_view bytes, ReplaceMode mode,
                   const std::function<void()>& afterSync) {
  std::string temporary;
  FileDescriptor file;
  for (int attempt = 0; attempt < 8 && !file; ++attempt) {
    temporary = temporaryName();
    file = FileDescriptor(::openat(folder, temporary.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!file && errno != EEXIST) fail("cannot create a temporary file", errno);
  }
  if (!file) fail("cannot create a temporary file", EEXIST);
  try {
    writeAll(file.get(), bytes, temporary);
    if (::fsync(file.get()) != 0) fail("cannot sync " + temporary, errno);
    if (::close(file.release()) != 0) fail("cannot close " + temporary, errno);
    if (afterSync) afterSync();
    int error = 0;
    if (mode == ReplaceMode::createOnly) {
      error = moveWithoutReplacing(folder, temporary, name);
    } else if (::renameat(folder, temporary.c_str(), folder, name.c_str()) != 0) {
      error = errno;
    }
    if (error != 0) {
      ::unlinkat(folder, temporary.c_str(), 0);
      if (error == EEXIST || error == ENAMETOOLONG) return error;
      fail("cannot move " + temporary + " to " + name, error);
    }
  } catch (...) {
    ::unlinkat(folder, temporary.c_str(), 0);
    throw;
  }
  syncFolder(folder);
  return 0;
}

bool isTrustedItem(const struct ::stat& status) {
  return S_ISREG(status.st_mode) && status.st_uid == ::geteuid() && (status.st_mode & 077) == 0 &&
         status.st_size <= maximumItemSize;
}

std::optional<std::string> readOwnerOnlyFile(int folder, const std::string& name,
                                             struct ::stat* statusOut) {
  FileDescriptor file(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
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
