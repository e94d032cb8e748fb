// Feeds arbitrary bytes to what the auth API client reads from a failed answer: the error body,
// decoded with the auth decoder, and the API-version header. Each must decode or be refused
// (DecodingError, no version), never crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "voduzazi/auth/api_version.hpp"
#include "voduzazi/auth/record_coding.hpp"
#include "voduzazi/auth/detail/raw_api_error_response.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  try {
    const auto decoded = voduzazi::auth::authJSONDecoder()
                             ->decode<voduzazi::auth::detail::RawAPIErrorResponse>(input);
    (void)decoded.messageText();
  } catch (const voduzazi::DecodingError&) {
  }
  voduzazi::HTTPFields headers;
  headers.set(voduzazi::auth::apiVersionHeaderName(), input);  // cleaned as the wire's would be
  (void)voduzazi::auth::apiVersionOf(headers);
  return 0;
}
