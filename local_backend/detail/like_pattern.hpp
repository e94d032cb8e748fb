// SQL LIKE matching with the database's rules: "%" any run, "_" one character, "\" escapes.
//
//   detail::likeMatches("Hello", "h%", /*caseInsensitive=*/true);   // true
#pragma once

#include <string_view>

namespace local_backend::detail {

// False for a pattern that ends in an escape with nothing to escape, which the database refuses.
bool isValidLikePattern(std::string_view pattern);

// "_" matches one UTF-8 encoded character; case folding covers ASCII letters only. A pattern
// that is not valid matches nothing.
bool likeMatches(std::string_view text, std::string_view pattern, bool caseInsensitive);

}  // namespace local_backend::detail
