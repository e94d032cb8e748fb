// The stand-in's TOTP pieces: base32 of any bytes reads back as those bytes, any secret text gives
// six digits or nothing, and a candidate code only ever matches a step within one of now.
//
// Input: a secret text, then a candidate code.
#include <string>

#include "local_backend/totp.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using voduzazi::fuzz::FuzzInput;
namespace totp = local_backend::totp;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const std::string_view secret = in.field();
  const std::string_view candidate = in.rest();
  FUZZ_CHECK(totp::base32Decode(totp::base32Encode(secret)) == std::string(secret));
  const std::string code = totp::code(secret, 57'000'000);
  FUZZ_CHECK(code.empty() || code.size() == 6);
  FUZZ_CHECK(code.empty() == !totp::base32Decode(secret).has_value());
  constexpr std::int64_t now = 1'710'000'000;
  if (const auto step = totp::matchingStep(secret, candidate, now)) {
    FUZZ_CHECK(*step >= totp::stepAt(now) - 1 && *step <= totp::stepAt(now) + 1);
    FUZZ_CHECK(totp::code(secret, *step) == candidate);
  }
  return 0;
}
