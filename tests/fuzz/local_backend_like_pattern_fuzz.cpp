// The stand-in's LIKE matching on any text and pattern: no crash, a pattern that escapes every
// character matches exactly its own text, and "%" matches everything.
//
// Input: a flags byte (bit 0: case-insensitive), the text, NUL, the pattern.
#include <string>

#include "local_backend/detail/like_pattern.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using local_backend::detail::isValidLikePattern;
using local_backend::detail::likeMatches;
using voduzazi::fuzz::FuzzInput;

namespace {

std::string escaped(std::string_view text) {
  std::string pattern;
  for (const char c : text) {
    if (c == '%' || c == '_' || c == '\\') pattern += '\\';
    pattern += c;
  }
  return pattern;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const bool caseInsensitive = (in.byte() & 1) != 0;
  const std::string_view text = in.field();
  const std::string_view pattern = in.rest();
  const bool matches = likeMatches(text, pattern, caseInsensitive);
  if (!isValidLikePattern(pattern)) FUZZ_CHECK(!matches);

  FUZZ_CHECK(likeMatches(text, escaped(text), caseInsensitive));
  FUZZ_CHECK(likeMatches(text, "%", caseInsensitive));
  FUZZ_CHECK(likeMatches(pattern, escaped(text), false) == (pattern == text));
  return 0;
}
