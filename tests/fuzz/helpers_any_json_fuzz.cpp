// AnyJSON read from any text: what the decoder accepts writes back (plain, sorted, pretty, with
// snake_case keys) as text that reads back to an equal value and writes the same text again;
// only DecodingError or EncodingError for what JSON cannot hold.
#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/helpers/any_json.hpp"

using namespace voduzazi;
using voduzazi::fuzz::FuzzInput;

namespace {

void checkWrittenForm(const AnyJSON& value, OutputFormatting formatting) {
  JSONEncoder encoder;
  encoder.outputFormatting = formatting;
  const Data text = encoder.encode(value);
  const AnyJSON back = AnyJSON::decoder()->decode<AnyJSON>(text);
  FUZZ_CHECK(back == value);
  FUZZ_CHECK(encoder.encode(back) == text);
}

void checkKeyStrategies(const AnyJSON& value) {
  JSONEncoder encoder;
  encoder.keyEncodingStrategy = KeyEncodingStrategy::convertToSnakeCase;
  const Data snake = encoder.encode(value);
  JSONDecoder decoder;
  decoder.keyDecodingStrategy = KeyDecodingStrategy::convertFromSnakeCase;
  // Converted keys may merge, so only the text's validity is checked: it must read back.
  (void)decoder.decode<AnyJSON>(snake);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  AnyJSON value;
  try {
    value = AnyJSON::decoder()->decode<AnyJSON>(FuzzInput::all(data, size));
  } catch (const DecodingError&) {
    return 0;
  }
  (void)value.description();
  (void)value.hashValue();
  try {
    checkWrittenForm(value, {});
    checkWrittenForm(value, {.prettyPrinted = false, .sortedKeys = true});
    checkWrittenForm(value, {.prettyPrinted = true, .sortedKeys = false});
    checkWrittenForm(value, {.prettyPrinted = true, .sortedKeys = true});
    checkKeyStrategies(value);
  } catch (const EncodingError&) {
    // A number past the double range reads as infinity, which JSON text cannot hold.
  }
  return 0;
}
