// The date format read from any text: a date read writes as text that reads back to the same
// instant (to the millisecond written), and the JSON decoder agrees with the text reader.
#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/helpers/sdk_date.hpp"

using namespace voduzazi;
using voduzazi::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text = FuzzInput::all(data, size);
  const std::optional<Date> date = sdkDate(text);
  bool decoded = true;
  try {
    FUZZ_CHECK(decodeSDKDate(boost::json::string(text)) == date);
  } catch (const http_types::DecodingError&) {
    decoded = false;
  }
  FUZZ_CHECK(decoded == date.has_value());
  if (!date) return 0;
  const std::string written = sdkDateString(*date);
  FUZZ_CHECK(sdkDate(written) == std::chrono::floor<std::chrono::milliseconds>(*date));
  return 0;
}
