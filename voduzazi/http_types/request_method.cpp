#include "voduzazi/http_types/detail/field_syntax.hpp"
#include "voduzazi/http_types/detail/hasher.hpp"
#include "voduzazi/http_types/http_request.hpp"

namespace voduzazi::http_types {

std::optional<HTTPRequest::Method> HTTPRequest::Method::fromRawValue(std::string_view rawValue) {
  if (!detail::isNonEmptyToken(rawValue)) return std::nullopt;
  return Method(std::string(rawValue));
}

std::size_t HTTPRequest::Method::hashValue() const noexcept {
  detail::Hasher hasher;
  hasher.combine(rawValue_);
  return hasher.finalize();
}

}  // namespace voduzazi::http_types
