// The stand-in backend's reading of function arguments from a POST body and their sum: any body
// is bound or refused with a RestError, and add_numbers never overflows silently.
#include <cstddef>
#include <cstdint>
#include <string>

#include "local_backend/rest_error.hpp"
#include "local_backend/rest_functions.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace local_backend;
  Request request{http::verb::post, "/rest/v1/rpc/add_numbers", 11};
  request.body().assign(reinterpret_cast<const char*>(data), size);
  try {
    const FunctionCall call = bindArguments(*findFunction("add_numbers"), request, {});
    const boost::json::value sum = addNumbers(call.arguments);
    if (!sum.is_int64() && !sum.is_double()) __builtin_trap();
  } catch (const RestError&) {
  }
  return 0;
}
