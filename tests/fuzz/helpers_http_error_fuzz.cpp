// Error bodies of unexpected statuses: the database's error record decodes from any JSON or
// refuses with DecodingError, and what decodes codes back equal; the raw error shows a body
// exactly when it is UTF-8.
#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/detail/utf8.hpp"
#include "voduzazi/helpers/http_error.hpp"

using namespace voduzazi;
using voduzazi::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view body = FuzzInput::all(data, size);
  const HTTPError raw{Data(body), nullptr};
  const bool showsBody = raw.errorDescription().find(" Body: ") != std::string::npos;
  FUZZ_CHECK(showsBody == detail::isValidUTF8(body));

  try {
    const auto error = AnyJSON::decoder()->decode<PostgrestError>(body);
    FUZZ_CHECK(AnyJSON::decoder()->decode<PostgrestError>(AnyJSON::encoder()->encode(error)) ==
               error);
  } catch (const DecodingError&) {
  }
  return 0;
}
