// The admin listing's reading of its "link" and "x-total-count" headers. Input: bytes up to the
// first NUL are the link header, the rest the total count.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "voduzazi/auth/user_attributes.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voduzazi;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto split = input.find('\0');
  http_types::HTTPFields headers;
  try {
    headers.append(http_types::HTTPField(http_types::HTTPField::Name("link"),
                                         std::string(input.substr(0, split))));
    if (split != std::string_view::npos) {
      headers.append(http_types::HTTPField(http_types::HTTPField::Name("x-total-count"),
                                           std::string(input.substr(split + 1))));
    }
  } catch (const std::exception&) {
    return 0;  // not a field value
  }
  auto page = auth::ListUsersPaginatedResponse::withPaging({}, "aud", headers);
  if (page.nextPage && *page.nextPage < 0) __builtin_trap();
  if (page.lastPage < 0) __builtin_trap();
  return 0;
}
