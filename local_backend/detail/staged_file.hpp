// A file that becomes visible under its final name only when complete: written under a temporary
// name in the destination's folder, flushed to disk and renamed over the final name.
//
//   detail::StagedFile file(folder);          // ".staged-XXXXXX" in that folder
//   file.append(bytes);
//   file.commit(folder / "final");            // fsync, rename, fsync of the folder
//   // destroyed before commit(): the temporary file is removed
#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace local_backend::detail {

// Thread safety: distinct objects safe, shared objects unsafe. Lifetime: owns the temporary file
// until commit().
class StagedFile {
 public:
  // Creates an empty owner-only temporary file in `folder`; throws std::system_error.
  explicit StagedFile(const std::filesystem::path& folder);
  ~StagedFile();
  StagedFile(StagedFile&& other) noexcept;
  StagedFile& operator=(StagedFile&&) = delete;
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  // Throws std::system_error.
  void append(std::string_view bytes);
  // Appends the whole content of `file`, read piece by piece. Throws std::system_error.
  void appendFile(const std::filesystem::path& file);
  const std::filesystem::path& path() const noexcept { return path_; }
  std::uint64_t size() const noexcept { return size_; }
  // Flushes, renames to `target` (on the same file system) and flushes the folder. Throws
  // std::system_error; the temporary file is then removed by the destructor.
  void commit(const std::filesystem::path& target);

 private:
  int fd_ = -1;
  std::filesystem::path path_;
  std::uint64_t size_ = 0;
  bool committed_ = false;
};

}  // namespace local_backend::detail
