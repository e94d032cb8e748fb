#include "voduzazi/platform/detail/huge_pages.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace voduzazi::detail {

void preferHugePages(char* buffer, std::size_t size) {
  constexpr std::uintptr_t hugePage = std::uintptr_t{2} << 20;
  if (size < 4 * hugePage) return;
  const auto start = reinterpret_cast<std::uintptr_t>(buffer);
  const std::uintptr_t first = (start + hugePage - 1) & ~(hugePage - 1);
  const std::uintptr_t last = (start + size) & ~(hugePage - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace voduzazi::detail
