#include "voduzazi/auth/record_coding.hpp"

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/detail/key_case.hpp"
#include "voduzazi/helpers/detail/log_redaction.hpp"

namespace voduzazi::auth {
namespace {

// A record's field is secret when its wire name is one the log redacts.
bool isSecretKey(std::string_view key) {
  return voduzazi::detail::isSecretName(voduzazi::detail::toSnakeCase(key));
}

void mask(boost::json::value& json) {
  if (auto* object = json.if_object()) {
    for (auto& member : *object) {
      if (isSecretKey(member.key()) && !member.value().is_null()) {
        member.value() = "<redacted>";
      } else {
        mask(member.value());
      }
    }
  } else if (auto* array = json.if_array()) {
    for (auto& item : *array) mask(item);
  }
}

}  // namespace

std::shared_ptr<JSONEncoder> makeAuthEncoder() {
  auto encoder = makeVoduzaziEncoder();
  encoder->keyEncodingStrategy = KeyEncodingStrategy::convertToSnakeCase;
  return encoder;
}

std::shared_ptr<JSONDecoder> makeAuthDecoder() {
  auto decoder = makeVoduzaziDecoder();
  decoder->keyDecodingStrategy = KeyDecodingStrategy::convertFromSnakeCase;
  return decoder;
}

// The coders are never destroyed: a refresh still under way at exit decodes and logs with them.
const std::shared_ptr<JSONEncoder>& authJSONEncoder() {
  static const auto* const encoder = new std::shared_ptr<JSONEncoder>(makeAuthEncoder());
  return *encoder;
}

const std::shared_ptr<JSONDecoder>& authJSONDecoder() {
  static const auto* const decoder = new std::shared_ptr<JSONDecoder>(makeAuthDecoder());
  return *decoder;
}

namespace detail {

// Metadata objects of a record are free-form, so a secret-looking key inside them is masked too.
std::string maskedDescription(const boost::json::value& json) {
  boost::json::value masked = json;
  mask(masked);
  return AnyJSON::fromJSON(masked).description();
}

const JSONEncoder& descriptionEncoder() {
  // Declared keys and readable dates.
  static const auto* const encoder = new std::shared_ptr<JSONEncoder>(makeVoduzaziEncoder());
  return **encoder;
}

}  // namespace detail
}  // namespace voduzazi::auth
