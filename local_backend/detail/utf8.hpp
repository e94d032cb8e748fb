// UTF-8 validation for text that arrives outside a JSON body (query strings, headers).
//
//   if (!detail::isValidUtf8(value)) reject();
#pragma once

#include <string_view>

namespace local_backend::detail {

// True for well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(std::string_view text);

}  // namespace local_backend::detail
