// Header field names and values as they arrive, and the JSON coded forms of fields and field
// lists: invalid input is refused with the documented errors, and what is accepted codes back
// to an equal value.
#include <boost/json/parse.hpp>
#include <stdexcept>

#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/http_types/http_fields.hpp"

using namespace voduzazi::http_types;
using voduzazi::fuzz::FuzzInput;

namespace {

void checkField(std::string_view name, std::string_view value) {
  if (const auto parsedName = HTTPField::Name::fromParsed(name)) {
    FUZZ_CHECK(parsedName->canonicalName() == parsedName->rawName());
    const HTTPField lenient = HTTPField::withLenientValue(*parsedName, value);
    (void)lenient.value();
    (void)lenient.description();
  }
  const auto fieldName = HTTPField::Name::fromString(name);
  if (!fieldName) return;
  const HTTPField field(*fieldName, value);
  field.withUnsafeBytesOfValue(
      [](std::string_view octets) { FUZZ_CHECK(HTTPField::isValidValue(octets)); });
  FUZZ_CHECK(HTTPField::fromJSON(field.toJSON()) == field);
  FUZZ_CHECK(HTTPField::Name::fromJSON(fieldName->toJSON()) == *fieldName);
}

void checkCodedForms(std::string_view text) {
  boost::system::error_code error;
  const boost::json::value json = boost::json::parse(text, error);
  if (error) return;
  try {
    const HTTPField field = HTTPField::fromJSON(json);
    FUZZ_CHECK(HTTPField::fromJSON(field.toJSON()) == field);
  } catch (const DecodingError&) {
  }
  try {
    const HTTPFields fields = HTTPFields::fromJSON(json);
    FUZZ_CHECK(HTTPFields::fromJSON(fields.toJSON()) == fields);
    (void)fields.debugDescription();
  } catch (const DecodingError&) {
  } catch (const std::length_error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::string_view name = in.field();
  checkField(name, in.rest());
  checkCodedForms(FuzzInput::all(data, size));
  return 0;
}
