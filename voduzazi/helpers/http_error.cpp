#include "voduzazi/helpers/http_error.hpp"

#include <boost/json/object.hpp>
#include <utility>

#include "voduzazi/helpers/detail/utf8.hpp"

namespace voduzazi {

HTTPError::HTTPError(Data data, std::shared_ptr<const HTTPURLResponse> response)
    : data_(std::move(data)), response_(std::move(response)) {
  description_ = "Status Code: " + std::to_string(response_ ? response_->statusCode() : 0);
  if (detail::isValidUTF8(data_)) description_ += " Body: " + data_;
}

PostgrestError::PostgrestError(std::optional<std::string> detail, std::optional<std::string> hint,
                               std::optional<std::string> code, std::string message)
    : detail_(std::move(detail)),
      hint_(std::move(hint)),
      code_(std::move(code)),
      message_(std::move(message)) {}

boost::json::value PostgrestError::toJSON() const {
  boost::json::object object;
  if (detail_) object["detail"] = *detail_;
  if (hint_) object["hint"] = *hint_;
  if (code_) object["code"] = *code_;
  object["message"] = message_;
  return object;
}

PostgrestError PostgrestError::fromJSON(const boost::json::value& json,
                                        const http_types::CodingPath& codingPath) {
  using http_types::DecodingError;
  const boost::json::object* object = json.if_object();
  if (!object) {
    throw DecodingError(DecodingError::Kind::typeMismatch, codingPath,
                        "Expected to decode Dictionary<String, Any> but found another type.");
  }
  auto pathTo = [&](std::string_view key) {
    http_types::CodingPath path = codingPath;
    path.emplace_back(key);
    return path;
  };
  auto optionalString = [&](std::string_view key) -> std::optional<std::string> {
    const boost::json::value* value = object->if_contains(key);
    if (!value || value->is_null()) return std::nullopt;
    if (!value->is_string()) {
      throw DecodingError(DecodingError::Kind::typeMismatch, pathTo(key),
                          "Expected to decode String but found another type instead.");
    }
    return std::string(value->get_string());
  };
  std::optional<std::string> detail = optionalString("detail");
  std::optional<std::string> hint = optionalString("hint");
  std::optional<std::string> code = optionalString("code");
  const boost::json::value* message = object->if_contains("message");
  if (!message) {
    throw DecodingError(DecodingError::Kind::keyNotFound, codingPath,
                        "No value associated with key \"message\".");
  }
  if (message->is_null()) {
    throw DecodingError(DecodingError::Kind::valueNotFound, pathTo("message"),
                        "Expected String value but found null instead.");
  }
  if (!message->is_string()) {
    throw DecodingError(DecodingError::Kind::typeMismatch, pathTo("message"),
                        "Expected to decode String but found another type instead.");
  }
  return PostgrestError(std::move(detail), std::move(hint), std::move(code),
                        std::string(message->get_string()));
}

}  // namespace voduzazi
