#include "voduzazi/platform/secret_item_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "voduzazi/concurrency/this_task.hpp"
#include "voduzazi/platform/secret_store.hpp"

namespace voduzazi {
namespace {

[[noreturn]] void fail(const std::string& what, int error) {
  throw SecretStoreError("Secret store: " + what + ": " + std::strerror(error));
}

// Closes the descriptor unless it was handed on.
struct OpenFile {
  int fd;
  ~OpenFile() {
    if (fd >= 0) ::close(fd);
  }
  int release() { return std::exchange(fd, -1); }
};

}  // namespace

SecretItemLock SecretItemLock::acquire(int folder, const std::string& name,
                                       std::chrono::milliseconds wait) {
  // Non-blocking, so that a FIFO planted under the name cannot stall the open; never followed.
  OpenFile file{
      ::openat(folder, name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600)};
  if (file.fd < 0) fail("cannot open the lock file " + name, errno);
  struct ::stat status {};
  if (::fstat(file.fd, &status) != 0) fail("cannot inspect the lock file " + name, errno);
  if (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
    throw SecretStoreError("Secret store: " + name + " is not a lock file of this user");
  }
  // flock has no time-out of its own: try, then pause a little longer each time, up to 50 ms.
  const auto deadline = std::chrono::steady_clock::now() + wait;
  std::chrono::milliseconds pause(1);
  while (::flock(file.fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) fail("cannot lock " + name, errno);
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      throw SecretStoreError("Secret store: " + name + " stayed locked for " +
                             std::to_string(wait.count()) + " ms");
    }
    // A cancelled task stops waiting (and so does not hold up whoever cancelled it).
    this_task::sleepFor(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
  return SecretItemLock(file.release());
}

SecretItemLock::~SecretItemLock() {
  if (fd_ >= 0) ::close(fd_);  // releases the lock
}

SecretItemLock::SecretItemLock(SecretItemLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

SecretItemLock& SecretItemLock::operator=(SecretItemLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

}  // namespace voduzazi
