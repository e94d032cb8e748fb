// SQL LIKE matching with the database's rules: "%" any run, "_" one character, "\" escapes.
//
//   detail::likeMatches("Hello", "h%", /*caseInsensitive=*/true);   // true
#pragma once

#include <string_view>

namespace local_backend::detail {

// "_" matches one UTF-8 encoded character; case folding covers ASCII letters only.
bool likeMatches(std::string_view text, std::string_view pattern, bool caseInsensitive);

}  // namespace local_backend::detail
