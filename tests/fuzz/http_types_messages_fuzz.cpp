// Requests, responses and trailer blocks built from fields read off the wire, and requests and
// responses decoded from their JSON coded form: only ParsingError or DecodingError for bad
// input, and every accepted message codes back to an equal one.
//
// Input: a mode byte, then (wire mode) NUL-separated name and value pairs or (JSON mode) text.
#include <boost/json/parse.hpp>
#include <stdexcept>
#include <vector>

#include "tests/fuzz/fuzz_input.hpp"
#include "voduzazi/http_types/http_fields.hpp"
#include "voduzazi/http_types/http_request.hpp"
#include "voduzazi/http_types/http_response.hpp"
#include "voduzazi/http_types/parsing_error.hpp"

using namespace voduzazi::http_types;
using voduzazi::fuzz::FuzzInput;

namespace {

// Values read leniently from the wire may break the field-value rule, which decoding enforces;
// only messages without such values must code back.
template <class Message>
void checkCodesBack(const Message& message, bool validValues = true) {
  (void)message.debugDescription();
  if (validValues) FUZZ_CHECK(Message::fromJSON(message.toJSON()) == message);
}

template <class Parse>
void parseFields(const Parse& parse) {
  try {
    parse();
  } catch (const ParsingError&) {
  } catch (const std::length_error&) {
  }
}

void checkWireFields(FuzzInput& in) {
  std::vector<HTTPField> fields;
  bool validValues = true;
  const auto pieces = in.fields();
  for (std::size_t i = 0; i + 1 < pieces.size(); i += 2) {
    if (auto name = HTTPField::Name::fromParsed(pieces[i])) {
      fields.push_back(HTTPField::withLenientValue(*name, pieces[i + 1]));
      validValues = validValues && fields.back().withUnsafeBytesOfValue(&HTTPField::isValidValue);
    }
  }
  parseFields([&] { checkCodesBack(HTTPRequest::parsed(fields), validValues); });
  parseFields([&] { checkCodesBack(HTTPResponse::parsed(fields), validValues); });
  parseFields([&] {
    const HTTPFields trailer = HTTPFields::parsedTrailerFields(fields);
    if (validValues) FUZZ_CHECK(HTTPFields::fromJSON(trailer.toJSON()) == trailer);
  });
}

template <class Message>
void checkDecoded(const boost::json::value& json) {
  try {
    checkCodesBack(Message::fromJSON(json));
  } catch (const DecodingError&) {
  } catch (const std::length_error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  if (in.byte() % 2 == 0) {
    checkWireFields(in);
    return 0;
  }
  boost::system::error_code error;
  const boost::json::value json = boost::json::parse(in.rest(), error);
  if (error) return 0;
  checkDecoded<HTTPRequest>(json);
  checkDecoded<HTTPResponse>(json);
  return 0;
}
