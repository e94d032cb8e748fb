// The stand-in's reading of function arguments from a POST body and their sum: any body binds or
// is refused with a RestError, and a sum is a number, never a silent overflow.
#include "local_backend/rest_error.hpp"
#include "local_backend/rest_functions.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using namespace local_backend;
using voduzazi::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Request request{http::verb::post, "/rest/v1/rpc/add_numbers", 11};
  request.body() = std::string(FuzzInput::all(data, size));
  try {
    const FunctionCall call = bindArguments(*findFunction("add_numbers"), request, {});
    const boost::json::value sum = addNumbers(call.arguments);
    FUZZ_CHECK(sum.is_int64() || sum.is_double());
  } catch (const RestError&) {
  }
  return 0;
}
