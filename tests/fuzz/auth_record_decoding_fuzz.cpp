// The auth records' decoding of server answers with the auth coders: sessions, users, the
// session-or-user answer, multi-factor answers and error bodies. Whatever decodes must encode,
// and its encoding must read back to the same encoding (dates are written to the millisecond, so
// the first round may shorten them). Input: the first byte picks the record, the rest is JSON.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "voduzazi/auth/auth_error.hpp"
#include "voduzazi/auth/mfa_records.hpp"
#include "voduzazi/auth/session.hpp"
#include "voduzazi/auth/sign_in_records.hpp"
#include "voduzazi/auth/user.hpp"

namespace {

template <class Record>
void roundTrip(std::string_view text) {
  using namespace voduzazi;
  const auto& decoder = *auth::authJSONDecoder();
  const auto& encoder = *auth::authJSONEncoder();
  try {
    Record record = decoder.decode<Record>(text);
    Data encoded = encoder.encode(record);
    if (encoder.encode(decoder.decode<Record>(encoded)) != encoded) __builtin_trap();
    (void)auth::description(record);
  } catch (const DecodingError&) {
  } catch (const EncodingError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace voduzazi::auth;
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  switch (data[0] % 8) {
    case 0:
      roundTrip<Session>(text);
      break;
    case 1:
      roundTrip<User>(text);
      break;
    case 2:
      roundTrip<AuthResponse>(text);
      break;
    case 3:
      roundTrip<AuthMFAEnrollResponse>(text);
      break;
    case 4:
      roundTrip<AuthMFAGetAuthenticatorAssuranceLevelResponse>(text);
      break;
    case 5:
      roundTrip<OAuthResponse>(text);
      break;
    case 6:
      roundTrip<AuthError::APIError>(text);
      break;
    default:
      roundTrip<UserIdentity>(text);
      break;
  }
  return 0;
}
