// The database client's reading of answers: the "Content-Range" total, and the mapping of an
// unsuccessful status to PostgrestError or HTTPError. A total is never negative, an unsuccessful
// status never passes, and HTTPError keeps the whole body.
//
// Input: one byte (the status is 200 + byte), then the text used as "Content-Range" and as body.
#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/postgrest/builder.hpp"

using namespace voduzazi;
using voduzazi::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const int status = 200 + in.byte();
  const std::string text(in.rest());
  const auto count = countFromContentRange(text);
  FUZZ_CHECK(!count || *count >= 0);

  auto http = std::make_shared<HTTPURLResponse>(boost::urls::url("http://127.0.0.1/rest/v1/t"),
                                                status, HeaderFieldList{{"Content-Range", text}});
  FUZZ_CHECK(PostgrestResponse<>(text, http).count == count);
  try {
    detail::throwIfUnsuccessful(helpers::HTTPResponse(text, http),
                                *PostgrestClientConfiguration::jsonDecoder());
    FUZZ_CHECK(status <= 299);
  } catch (const PostgrestError&) {
    FUZZ_CHECK(status > 299);
  } catch (const HTTPError& error) {
    FUZZ_CHECK(status > 299 && error.data() == text);
  }
  return 0;
}
