// The clean-up of caller-written column lists: what stays is the input in order with white
// space dropped, and a cleaned list cleans to itself.
#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/postgrest/detail/request_shaping.hpp"

using voduzazi::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view columns = FuzzInput::all(data, size);
  const std::string cleaned = voduzazi::detail::cleanedColumns(columns);
  std::size_t at = 0;
  for (const char c : cleaned) {
    at = columns.find(c, at);
    FUZZ_CHECK(at != std::string_view::npos);
    ++at;
  }
  FUZZ_CHECK(voduzazi::detail::cleanedColumns(cleaned) == cleaned);
  return 0;
}
