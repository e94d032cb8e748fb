// Dates read from any text: the date format's text and the plain coders' seconds since 2001.
// A date read writes as text that reads back as the same instant (to the millisecond written),
// the JSON decoder agrees with the text reader, and every refusal is a DecodingError.
#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/helpers/json_coders.hpp"
#include "voduzazi/helpers/sdk_date.hpp"

using namespace voduzazi;
using voduzazi::fuzz::FuzzInput;

namespace {

void checkSDKDate(std::string_view text) {
  const std::optional<Date> date = sdkDate(text);
  bool decoded = true;
  try {
    FUZZ_CHECK(decodeSDKDate(boost::json::string(text)) == date);
  } catch (const DecodingError&) {
    decoded = false;
  }
  FUZZ_CHECK(decoded == date.has_value());
  if (!date) return;
  const std::string written = sdkDateString(*date);
  FUZZ_CHECK(sdkDate(written) == std::chrono::floor<std::chrono::milliseconds>(*date));
}

// Seconds since 2001 as a JSON number; dates are kept to the microsecond, and a double far from
// 2001 holds a few microseconds less.
void checkPlainDate(std::string_view text) {
  try {
    const Date date = JSONDecoder().decodeDate(JSONDecoder::parse(text));
    const Date again = JSONDecoder().decodeDate(JSONEncoder().encodeDate(date));
    FUZZ_CHECK(std::chrono::abs(again - date) <= std::chrono::microseconds(4));
  } catch (const DecodingError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = FuzzInput::all(data, size);
  checkSDKDate(text);
  checkPlainDate(text);
  return 0;
}
