// UTF-8 validation for texts read from bodies.
#pragma once

#include <string_view>

namespace voduzazi::detail {

// True when `bytes` is well-formed UTF-8 (no overlongs, surrogates or values past U+10FFFF).
bool isValidUTF8(std::string_view bytes);

}  // namespace voduzazi::detail
