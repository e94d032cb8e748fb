#include "local_backend/detail/staged_file.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace local_backend::detail {

namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::system_error(errno, std::generic_category(), what);
}

void syncFolder(const std::filesystem::path& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) fail("cannot open the folder " + folder.string());
  const int result = ::fsync(fd);
  ::close(fd);
  if (result != 0) fail("cannot flush the folder " + folder.string());
}

}  // namespace

StagedFile::StagedFile(const std::filesystem::path& folder) {
  std::string pattern = (folder / ".staged-XXXXXX").string();
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) fail("cannot create a file in " + folder.string());
  path_ = pattern;
}

StagedFile::StagedFile(StagedFile&& other) noexcept
    : fd_(other.fd_),
      path_(std::move(other.path_)),
      size_(other.size_),
      committed_(other.committed_) {
  other.fd_ = -1;
  other.committed_ = true;  // nothing left for the moved-from object to remove
}

StagedFile::~StagedFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_) {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
}

void StagedFile::append(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      fail("cannot write " + path_.string());
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
    size_ += static_cast<std::uint64_t>(written);
  }
}

void StagedFile::appendFile(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail("cannot open " + file.string());
  std::string chunk(64 * 1024, '\0');
  for (;;) {
    const ssize_t n = ::read(fd, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      throw std::system_error(error, std::generic_category(), "cannot read " + file.string());
    }
    if (n == 0) break;
    try {
      append(std::string_view(chunk.data(), static_cast<std::size_t>(n)));
    } catch (...) {
      ::close(fd);
      throw;
    }
  }
  ::close(fd);
}

void StagedFile::commit(const std::filesystem::path& target) {
  if (::fsync(fd_) != 0) fail("cannot flush " + path_.string());
  if (::rename(path_.c_str(), target.c_str()) != 0) fail("cannot rename to " + target.string());
  committed_ = true;
  ::close(fd_);
  fd_ = -1;
  syncFolder(target.parent_path());
}

}  // namespace local_backend::detail
