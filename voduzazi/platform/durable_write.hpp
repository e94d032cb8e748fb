// Durable file writes: the bytes go to a new temporary file beside the target, which is synced,
// then moved to the target's name, and the folder is synced. After a crash the target holds its
// old bytes or its new ones, never a mix, and a completed write survives a power cut.
//
//   voduzazi::writeFileDurably(home / ".config/tapwick/defaults.json", text);
//
//   // Inside a folder already opened (and checked) by the caller, never over an existing name:
//   int error = voduzazi::writeFileDurablyAt(folderFd, "item", bytes,
//                                            {.mode = voduzazi::DurableWriteMode::createOnly});
//
// The target is replaced, never written through: a symbolic link at its name is replaced by the
// new file, not followed. Thread safety: free functions; two writers of one name each leave a
// whole file, the last move wins.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace voduzazi {

enum class DurableWriteMode {
  replace,     // moves over whatever file or link holds the name
  createOnly,  // leaves an existing name alone and reports EEXIST
};

struct DurableWriteOptions {
  DurableWriteMode mode = DurableWriteMode::replace;
  // Of the new file; the umask still applies.
  mode_t permissions = 0600;
  // Called once the temporary file is synced and before it is moved; a test may throw from it to
  // stop the write there (the temporary file is then removed).
  std::function<void()> afterSync{};
};

// Writes `bytes` as `name` in the open folder `folder`. Returns 0, or EEXIST (createOnly and the
// name exists) or ENAMETOOLONG; throws std::system_error naming the failing step for any other
// failure (EISDIR when the name is a folder), after removing the temporary file.
int writeFileDurablyAt(int folder, const std::string& name, std::string_view bytes,
                       const DurableWriteOptions& options = {});

// Writes `bytes` as the file `path`, whose folder must exist. Throws std::system_error for every
// failure, the temporary file removed.
void writeFileDurably(const std::filesystem::path& path, std::string_view bytes,
                      const DurableWriteOptions& options = {});

}  // namespace voduzazi
