// SecretItemLock: one holder at a time, across threads and processes, for one item of a
// SecretStore, so that a read-ask-write cycle on the item (a token refresh) is not run twice at
// once by programs sharing the store.
//
//   SecretItemLock lock = store.lockItem(query, std::chrono::seconds(70));
//   // ... read the item, ask the server, write the item ...
//   // released when `lock` is destroyed, or when this process ends however it ends
//
// The lock is an advisory lock (flock) on a file beside the item, which is created on first use
// and left in place: removing it could let a waiter lock a file that a newcomer no longer sees.
// Only holders of such locks are kept out; reads and writes of the item are not.
//
// Distinct objects: safe. Shared objects: unsafe. Movable, not copyable.
#pragma once

#include <chrono>
#include <string>

namespace voduzazi {

class SecretItemLock {
 public:
  // Waits at most `wait` until nobody else holds the lock file `name` in the open folder `folder`
  // (created with mode 0600 when missing), then holds it. Throws SecretStoreError when the wait
  // times out, or when the file cannot be opened or is not a regular file of this user, and
  // CancellationError when the calling task is cancelled while it waits.
  static SecretItemLock acquire(int folder, const std::string& name,
                                std::chrono::milliseconds wait);

  ~SecretItemLock();
  SecretItemLock(SecretItemLock&& other) noexcept;
  SecretItemLock& operator=(SecretItemLock&& other) noexcept;
  SecretItemLock(const SecretItemLock&) = delete;
  SecretItemLock& operator=(const SecretItemLock&) = delete;

 private:
  explicit SecretItemLock(int fd) : fd_(fd) {}

  int fd_;
};

}  // namespace voduzazi
