#include "voduzazi/http_types/detail/contract.hpp"

#include <cstdio>
#include <cstdlib>

namespace voduzazi::http_types::detail {

void contractViolation(const char* what) noexcept {
  std::fprintf(stderr, "voduzazi http_types: precondition failed: %s\n", what);
  std::abort();
}

}  // namespace voduzazi::http_types::detail
