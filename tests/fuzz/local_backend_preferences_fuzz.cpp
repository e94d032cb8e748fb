// The stand-in's reading of the "Prefer" and "Accept" headers of a REST request: preferences
// never fail (unknown ones are ignored), and an "Accept" is either understood or refused with a
// RestError.
//
// Input: the "Accept" value, then NUL-separated "Prefer" values.
#include "local_backend/rest_error.hpp"
#include "local_backend/rest_preferences.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using voduzazi::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  local_backend::Request request{local_backend::http::verb::post, "/rest/v1/messages", 11};
  request.set(local_backend::http::field::accept, in.field());
  for (const std::string_view prefer : in.fields()) {
    request.insert("Prefer", prefer);
  }
  (void)local_backend::parsePreferences(request);
  try {
    (void)local_backend::parseAccept(request);
  } catch (const local_backend::RestError& error) {
    FUZZ_CHECK(error.code() == "PGRST107");
  }
  return 0;
}
