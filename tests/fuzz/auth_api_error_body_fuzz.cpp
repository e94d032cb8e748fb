// Feeds arbitrary bytes to the auth API's error-body decoding, as the API client reads a failed
// answer: it must either decode or throw DecodingError, never crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "voduzazi/auth/auth_client_configuration.hpp"
#include "voduzazi/auth/detail/raw_api_error_response.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  try {
    const auto decoded = voduzazi::auth::AuthClientConfiguration::jsonDecoder()
                             ->decode<voduzazi::auth::detail::RawAPIErrorResponse>(body);
    (void)decoded.messageText();
  } catch (const voduzazi::DecodingError&) {
  }
  return 0;
}
