// InstanceLock: at most one Tapwick per settings folder. An advisory lock on a file beside the
// settings file, held while the object lives; the kernel lets go of it when the process ends,
// however it ends, so a killed instance never blocks the next launch.
//
//   auto lock = InstanceLock::acquire(InstanceLock::pathBeside(UserDefaults::defaultPath()));
//   if (!lock) { std::cerr << "Tapwick is already running.\n"; return 1; }
//
// Distinct objects: safe. Two objects on one path exclude each other, in one process as in two.
#pragma once

#include <filesystem>
#include <optional>

namespace tapwick {

class InstanceLock {
 public:
  // "instance.lock" in the folder of `settingsFile`.
  static std::filesystem::path pathBeside(const std::filesystem::path& settingsFile);

  // The lock on `path`, its folder created (owner-only) when missing; nothing when someone else
  // holds it. Never waits. Throws std::system_error when the file cannot be opened or locked.
  static std::optional<InstanceLock> acquire(const std::filesystem::path& path);

  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&& other) noexcept;
  ~InstanceLock();

 private:
  explicit InstanceLock(int descriptor) : descriptor_(descriptor) {}
  void release() noexcept;

  int descriptor_ = -1;
};

}  // namespace tapwick
