// The header names the database client writes besides the common ones.
#pragma once

#include "voduzazi/http_types/http_field.hpp"

namespace voduzazi::detail::postgrest_fields {

inline const http_types::HTTPField::Name prefer{"Prefer"};
inline const http_types::HTTPField::Name acceptProfile{"Accept-Profile"};
inline const http_types::HTTPField::Name contentProfile{"Content-Profile"};

}  // namespace voduzazi::detail::postgrest_fields
