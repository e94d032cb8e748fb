// Which auth client's background work the current thread runs (its auto-refresh loop, a refresh
// task, a task of the client's own): a release called from there must not wait for that work,
// which may be waiting for the very call that released the client.
//
//   Task<void>([clientID] {
//     const detail::BackgroundWorkScope scope(clientID);
//     work();                                  // a listener here may release the client
//   });
//   if (!detail::isBackgroundWorkOf(clientID)) waitForTheWork();
#pragma once

#include <cstdint>

namespace voduzazi::auth::detail {

// Marks this thread as running background work of `clientID` while it lives.
// Bound to its thread: neither copied nor moved.
class BackgroundWorkScope {
 public:
  explicit BackgroundWorkScope(std::int64_t clientID);
  ~BackgroundWorkScope();
  BackgroundWorkScope(const BackgroundWorkScope&) = delete;
  BackgroundWorkScope& operator=(const BackgroundWorkScope&) = delete;

 private:
  std::int64_t clientID_;
};

bool isBackgroundWorkOf(std::int64_t clientID);

}  // namespace voduzazi::auth::detail
