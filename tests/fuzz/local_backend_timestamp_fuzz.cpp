// The stand-in's timestamps read from any text: an accepted time writes as fixed-width text that
// reads back as the same instant, so that text order stays time order.
#include <string>

#include "local_backend/timestamp.hpp"
#include "tests/fuzz/fuzz_input.hpp"

using voduzazi::fuzz::FuzzInput;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto time = local_backend::parseTimestamp(FuzzInput::all(data, size));
  if (!time) return 0;
  const std::string text = local_backend::formatTimestamp(*time);
  FUZZ_CHECK(text.size() == std::string_view("2025-10-21T08:00:00.123456+00:00").size());
  FUZZ_CHECK(local_backend::parseTimestamp(text) == time);
  const std::string zulu = local_backend::formatTimestampZulu(*time);
  FUZZ_CHECK(local_backend::parseTimestamp(zulu) == time);
  return 0;
}
