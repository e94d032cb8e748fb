#include "voduzazi/platform/durable_write.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>
#include <utility>

namespace voduzazi {
namespace {

[[noreturn]] void fail(const std::string& what, int error) {
  throw std::system_error(error, std::generic_category(), what);
}

// Closes the descriptor it holds when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

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

// A new file of its own: O_EXCL, so that nothing already there is written through.
std::pair<std::string, int> createTemporary(int folder, mode_t permissions) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    std::string name = temporaryName();
    const int fd = ::openat(folder, name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, permissions);
    if (fd >= 0) return {std::move(name), fd};
    if (errno != EEXIST) fail("cannot create a temporary file", errno);
  }
  fail("cannot create a temporary file", EEXIST);
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

int move(int folder, const std::string& from, const std::string& to, DurableWriteMode mode) {
  if (mode == DurableWriteMode::createOnly) return moveWithoutReplacing(folder, from, to);
  return ::renameat(folder, from.c_str(), folder, to.c_str()) == 0 ? 0 : errno;
}

}  // namespace

int writeFileDurablyAt(int folder, const std::string& name, std::string_view bytes,
                       const DurableWriteOptions& options) {
  auto [temporary, fd] = createTemporary(folder, options.permissions);
  Descriptor file(fd);
  try {
    writeAll(file.get(), bytes, temporary);
    if (::fsync(file.get()) != 0) fail("cannot sync " + temporary, errno);
    if (::close(file.release()) != 0) fail("cannot close " + temporary, errno);
    if (options.afterSync) options.afterSync();
    if (const int error = move(folder, temporary, name, options.mode); error != 0) {
      if (error == EEXIST || error == ENAMETOOLONG) {
        ::unlinkat(folder, temporary.c_str(), 0);
        return error;
      }
      fail("cannot move " + temporary + " to " + name, error);
    }
  } catch (...) {
    ::unlinkat(folder, temporary.c_str(), 0);
    throw;
  }
  // The move itself is durable only once the folder is synced; some file systems cannot.
  if (::fsync(folder) != 0 && errno != EINVAL) fail("cannot sync the folder of " + name, errno);
  return 0;
}

void writeFileDurably(const std::filesystem::path& path, std::string_view bytes,
                      const DurableWriteOptions& options) {
  const std::filesystem::path parent = path.has_parent_path() ? path.parent_path() : ".";
  const Descriptor folder(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.get() < 0) fail("cannot open folder " + parent.string(), errno);
  const std::string name = path.filename().string();
  if (const int error = writeFileDurablyAt(folder.get(), name, bytes, options); error != 0) {
    fail("cannot write " + path.string(), error);
  }
}

}  // namespace voduzazi
