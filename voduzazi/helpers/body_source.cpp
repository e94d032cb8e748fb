#include "voduzazi/helpers/body_source.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace voduzazi {
namespace {

// Reads `bytes`, which `owner` (when given) keeps alive.
class MemoryReader final : public BodyReader {
 public:
  MemoryReader(std::string_view bytes, std::shared_ptr<const Data> owner)
      : bytes_(bytes), owner_(std::move(owner)) {}

  std::size_t read(char* buffer, std::size_t capacity) override {
    const std::size_t count = std::min(capacity, bytes_.size() - offset_);
    std::copy_n(bytes_.data() + offset_, count, buffer);
    offset_ += count;
    return count;
  }

 private:
  std::string_view bytes_;
  std::shared_ptr<const Data> owner_;
  std::size_t offset_ = 0;
};

BodySourceError systemError(const std::string& what, const std::filesystem::path& path) {
  return BodySourceError(what + " " + path.string() + ": " + std::strerror(errno));
}

class FileReader final : public BodyReader {
 public:
  FileReader(const std::filesystem::path& path, std::uint64_t expected)
      : path_(path), remaining_(expected) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) throw systemError("Cannot open", path);
  }
  ~FileReader() override { ::close(fd_); }
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  std::size_t read(char* buffer, std::size_t capacity) override {
    if (remaining_ == 0) {
      // One more byte means the file grew since its size was announced.
      char extra;
      if (readSome(&extra, 1) != 0) throw BodySourceError("File grew: " + path_.string());
      return 0;
    }
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(capacity, remaining_));
    const std::size_t count = readSome(buffer, wanted);
    if (count == 0) throw BodySourceError("File shrank: " + path_.string());
    remaining_ -= count;
    return count;
  }

 private:
  std::size_t readSome(char* buffer, std::size_t capacity) {
    for (;;) {
      const ssize_t count = ::read(fd_, buffer, capacity);
      if (count >= 0) return static_cast<std::size_t>(count);
      if (errno != EINTR) throw systemError("Cannot read", path_);
    }
  }

  std::filesystem::path path_;
  std::uint64_t remaining_;
  int fd_ = -1;
};

}  // namespace

std::unique_ptr<BodyReader> MemoryBodySource::open() const {
  return std::make_unique<MemoryReader>(*bytes_, bytes_);
}

std::unique_ptr<BodyReader> BorrowedBodySource::open() const {
  return std::make_unique<MemoryReader>(bytes_, nullptr);
}

std::shared_ptr<FileBodySource> FileBodySource::open(const std::filesystem::path& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) throw systemError("Cannot read", path);
  if (!S_ISREG(status.st_mode)) throw BodySourceError("Not a regular file: " + path.string());
  return std::shared_ptr<FileBodySource>(
      new FileBodySource(path, static_cast<std::uint64_t>(status.st_size)));
}

std::unique_ptr<BodyReader> FileBodySource::open() const {
  return std::make_unique<FileReader>(path_, size_);
}

Data readAll(const BodySource& source) {
  Data bytes;
  bytes.reserve(static_cast<std::size_t>(source.size()));
  const std::unique_ptr<BodyReader> reader = source.open();
  char buffer[64 * 1024];
  while (const std::size_t count = reader->read(buffer, sizeof buffer)) bytes.append(buffer, count);
  return bytes;
}

}  // namespace voduzazi
