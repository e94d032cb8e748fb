// The reading of a mime.types table: whatever the text, every entry maps a non-empty lower-case
// extension without blanks to a "major/minor" type without blanks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "voduzazi/platform/mime_types.hpp"

namespace {

bool blankFree(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& [extension, type] : voduzazi::parseMIMETypes(text)) {
    if (extension.empty() || !blankFree(extension) || !blankFree(type)) __builtin_trap();
    if (std::any_of(extension.begin(), extension.end(),
                    [](char c) { return c >= 'A' && c <= 'Z'; }))
      __builtin_trap();
    const auto slash = type.find('/');
    if (slash == 0 || slash == std::string::npos || slash + 1 == type.size() ||
        type.find('/', slash + 1) != std::string::npos) {
      __builtin_trap();
    }
  }
  return 0;
}
