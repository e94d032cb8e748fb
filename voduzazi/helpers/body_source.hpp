// BodySource: a request body that is read piece by piece instead of held whole, so a large file
// goes out from disk. A source can be read any number of times, each reader from the start.
//
//   auto body = FileBodySource::open("/tmp/video.mp4");      // size taken now
//   URLRequest request{url, "PUT"};
//   request.httpBodyStream = body;                            // the transport reads it
//   Data small = readAll(*std::make_shared<MemoryBodySource>("abc"));
//   request.httpBodyStream = std::make_shared<BorrowedBodySource>(big);  // sent before `big` goes
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "voduzazi/helpers/data.hpp"

namespace voduzazi {

// Thrown by a reader that cannot go on: the file went away, shrank or grew, or could not be read.
class BodySourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One pass over a source. Distinct objects: safe; shared objects: unsafe.
class BodyReader {
 public:
  virtual ~BodyReader() = default;
  // Copies up to `capacity` bytes into `buffer`; 0 only at the end. Throws BodySourceError.
  virtual std::size_t read(char* buffer, std::size_t capacity) = 0;
};

// Shared objects: safe; readers made on different threads do not share state.
class BodySource {
 public:
  virtual ~BodySource() = default;
  // The number of bytes every complete reader yields.
  virtual std::uint64_t size() const = 0;
  // A reader from the first byte. Throws BodySourceError when the content cannot be opened.
  virtual std::unique_ptr<BodyReader> open() const = 0;
};

// Bytes in memory.
class MemoryBodySource final : public BodySource {
 public:
  explicit MemoryBodySource(Data bytes) : bytes_(std::make_shared<const Data>(std::move(bytes))) {}
  std::uint64_t size() const override { return bytes_->size(); }
  std::unique_ptr<BodyReader> open() const override;

 private:
  std::shared_ptr<const Data> bytes_;
};

// Bytes that the caller owns and keeps alive and unchanged for as long as any reader of the
// source is in use: a large body sent within one blocking call without a copy of it.
class BorrowedBodySource final : public BodySource {
 public:
  explicit BorrowedBodySource(std::string_view bytes) : bytes_(bytes) {}
  std::uint64_t size() const override { return bytes_.size(); }
  std::unique_ptr<BodyReader> open() const override;

 private:
  std::string_view bytes_;
};

// A regular file, read from disk on each pass. Its size is taken when the source is made; a
// reader that finds the file shorter or longer throws BodySourceError, so a body never goes out
// with another length than announced.
class FileBodySource final : public BodySource {
 public:
  // Throws BodySourceError when the path is not a readable regular file.
  static std::shared_ptr<FileBodySource> open(const std::filesystem::path& path);

  const std::filesystem::path& path() const noexcept { return path_; }
  std::uint64_t size() const override { return size_; }
  std::unique_ptr<BodyReader> open() const override;

 private:
  FileBodySource(std::filesystem::path path, std::uint64_t size)
      : path_(std::move(path)), size_(size) {}

  std::filesystem::path path_;
  std::uint64_t size_;
};

// Every byte of one pass. Throws what the reader throws.
Data readAll(const BodySource& source);

}  // namespace voduzazi
