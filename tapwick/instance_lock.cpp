#include "tapwick/instance_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace tapwick {

std::filesystem::path InstanceLock::pathBeside(const std::filesystem::path& settingsFile) {
  return settingsFile.parent_path() / "instance.lock";
}

std::optional<InstanceLock> InstanceLock::acquire(const std::filesystem::path& path) {
  if (std::filesystem::create_directories(path.parent_path())) {
    std::filesystem::permissions(path.parent_path(), std::filesystem::perms::owner_all);
  }
  const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (descriptor < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot open " + path.string());
  }
  // A lock on the open file, not on the path: it goes with the last descriptor, at the latest
  // when the process ends.
  while (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    if (error == EINTR) continue;
    ::close(descriptor);
    if (error == EWOULDBLOCK) return std::nullopt;
    throw std::system_error(error, std::generic_category(), "cannot lock " + path.string());
  }
  return InstanceLock(descriptor);
}

InstanceLock::InstanceLock(InstanceLock&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)) {}

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
  if (this != &other) {
    release();
    descriptor_ = std::exchange(other.descriptor_, -1);
  }
  return *this;
}

InstanceLock::~InstanceLock() { release(); }

void InstanceLock::release() noexcept {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
}

}  // namespace tapwick
