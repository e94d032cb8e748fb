// What a test sees of the process's threads and descriptors, and a check that a run of
// connections gave them all back.
//
//   expectReleasedAfter("closed by the server", 200, [&](int cycles) {
//     for (int n = 0; n < cycles; ++n) openAndLetTheServerClose();
//   });
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace voduzazi::testing {

struct ResourceCounts {
  int threads = 0;      // entries of /proc/self/task
  int descriptors = 0;  // entries of /proc/self/fd
};

ResourceCounts countResources();

// Runs `cycles(1)` to warm up (threads shared by every connection, objects made once), counts,
// runs `cycles(count)`, then waits until neither count is more than `allowed` above the first.
// Prints both counts and expects that.
void expectReleasedAfter(const std::string& what, int count, const std::function<void(int)>& cycles,
                         int allowed = 2);

}  // namespace voduzazi::testing
