// The JWT payload reader never throws, and it finds claims exactly when the middle segment
// decodes to a JSON object.
#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/helpers/jwt.hpp"

using namespace voduzazi;
using voduzazi::fuzz::FuzzInput;

namespace {

std::string base64URL(std::string_view bytes) {
  static constexpr char alphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string text;
  std::uint32_t buffer = 0;
  int bits = 0;
  for (const char c : bytes) {
    buffer = buffer << 8 | static_cast<unsigned char>(c);
    bits += 8;
    while (bits >= 6) {
      bits -= 6;
      text += alphabet[buffer >> bits & 63];
    }
  }
  if (bits > 0) text += alphabet[buffer << (6 - bits) & 63];
  return text;
}

bool isJSONObject(std::string_view text) {
  try {
    return JSONDecoder::parse(text).is_object();
  } catch (const DecodingError&) {
    return false;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = FuzzInput::all(data, size);
  (void)JWT::decodePayload(input);
  if (input.empty()) return 0;
  const std::string token = "eyJhbGciOiJIUzI1NiJ9." + base64URL(input) + ".c2lnbmF0dXJl";
  FUZZ_CHECK(JWT::decodePayload(token).has_value() == isJSONObject(input));
  return 0;
}
