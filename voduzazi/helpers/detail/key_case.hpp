// Key conversions between lowerCamelCase and snake_case, as the coders' key strategies do them.
#pragma once

#include <string>
#include <string_view>

namespace voduzazi::detail {

// "myURLProperty" gives "my_url_property"; "oneTwo" gives "one_two".
std::string toSnakeCase(std::string_view key);
// "one_two" gives "oneTwo"; leading and trailing underscores are kept; a key without inner
// underscores is kept as it is.
std::string fromSnakeCase(std::string_view key);

}  // namespace voduzazi::detail
