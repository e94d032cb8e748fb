#include "tests/realtime/resource_counts.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "tests/support/eventually.hpp"

namespace voduzazi::testing {

namespace {

int entriesOf(const char* folder) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    (void)entry;
    ++count;
  }
  return count;
}

}  // namespace

ResourceCounts countResources() {
  // Listing the descriptors opens one more: it is counted every time, so it cancels out.
  return ResourceCounts{entriesOf("/proc/self/task"), entriesOf("/proc/self/fd")};
}

void expectReleasedAfter(const std::string& what, int count, const std::function<void(int)>& cycles,
                         int allowed) {
  cycles(1);
  if (::testing::Test::HasFatalFailure()) return;
  const auto before = countResources();
  cycles(count);
  auto after = countResources();
  eventually(
      [&] {
        after = countResources();
        return after.threads <= before.threads + allowed &&
               after.descriptors <= before.descriptors + allowed;
      },
      std::chrono::seconds(30));
  std::printf("%s, %d cycles: threads %d -> %d, descriptors %d -> %d\n", what.c_str(), count,
              before.threads, after.threads, before.descriptors, after.descriptors);
  EXPECT_LE(after.threads, before.threads + allowed) << what;
  EXPECT_LE(after.descriptors, before.descriptors + allowed) << what;
}

}  // namespace voduzazi::testing
