// The clean-up of caller-written column lists: white space outside double quotes goes, every
// other byte stays in order.
#include <cstddef>
#include <cstdint>
#include <string>

#include "voduzazi/postgrest/detail/request_shaping.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string columns(reinterpret_cast<const char*>(data), size);
  const std::string cleaned = voduzazi::detail::cleanedColumns(columns);
  if (cleaned.size() > columns.size()) __builtin_trap();
  // What stays is a subsequence of the input.
  std::size_t at = 0;
  for (const char c : cleaned) {
    at = columns.find(c, at);
    if (at == std::string::npos) __builtin_trap();
    ++at;
  }
  return 0;
}
