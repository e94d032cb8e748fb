#include "voduzazi/http_types/http_response.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include "voduzazi/http_types/detail/contract.hpp"
#include "voduzazi/http_types/detail/copy_on_write.hpp"
#include "voduzazi/http_types/detail/field_syntax.hpp"
#include "voduzazi/http_types/detail/hasher.hpp"
#include "voduzazi/http_types/detail/json_coding.hpp"
#include "voduzazi/http_types/detail/pseudo_header_names.hpp"
#include "voduzazi/http_types/detail/utf8.hpp"

namespace voduzazi::http_types {
namespace {

// Keeps HTAB, SP, visible ASCII and U+0080-U+00FF; every other character becomes one space.
std::string repairedReasonPhrase(std::string_view phrase) {
  std::string repaired;
  repaired.reserve(phrase.size());
  for (std::size_t position = 0; position < phrase.size();) {
    const detail::DecodedScalar scalar = detail::decodeScalar(phrase, position);
    const char32_t c = scalar.value;
    const bool kept =
        scalar.valid && (c == '\t' || (c >= 0x20 && c <= 0x7E) || (c >= 0x80 && c <= 0xFF));
    if (kept) {
      repaired.append(phrase.substr(position, scalar.length));
    } else {
      repaired.push_back(' ');
    }
    position += scalar.length;
  }
  return repaired;
}

// Three digits with leading zeros: 5 gives "005".
std::string statusText(int code) {
  return {static_cast<char>('0' + code / 100), static_cast<char>('0' + code / 10 % 10),
          static_cast<char>('0' + code % 10)};
}

int statusCode(const HTTPField& field) { return field.withUnsafeBytesOfValue(detail::statusCode); }

bool holdsStatusText(const HTTPField& field) {
  return field.withUnsafeBytesOfValue(detail::isStatusText);
}

}  // namespace

// --- Status

HTTPResponse::Status::Status(int code, std::string_view reasonPhrase)
    : code_(code),
      reasonPhrase_(detail::isValidReasonPhrase(reasonPhrase)
                        ? std::string(reasonPhrase)
                        : repairedReasonPhrase(reasonPhrase)) {
  detail::precondition(code >= 0 && code <= 999, "status code outside 0 to 999");
}

HTTPResponse::Status::Kind HTTPResponse::Status::kind() const noexcept {
  switch (code_ / 100) {
    case 1: return Kind::informational;
    case 2: return Kind::successful;
    case 3: return Kind::redirection;
    case 4: return Kind::clientError;
    case 5: return Kind::serverError;
    default: return Kind::invalid;
  }
}

std::string HTTPResponse::Status::description() const {
  return std::to_string(code_) + " " + reasonPhrase_;
}

std::size_t HTTPResponse::Status::hashValue() const noexcept {
  detail::Hasher hasher;
  hasher.combine(static_cast<std::uint64_t>(code_));
  return hasher.finalize();
}

// --- PseudoHeaderFields

struct HTTPResponse::PseudoHeaderFields::Storage {
  HTTPField status;
  std::string reasonPhrase;
};

HTTPResponse::PseudoHeaderFields::PseudoHeaderFields(std::shared_ptr<Storage> storage)
    : storage_(std::move(storage)) {}

HTTPResponse::PseudoHeaderFields::Storage& HTTPResponse::PseudoHeaderFields::uniqueStorage() {
  if (!detail::isUniquelyReferenced(storage_)) storage_ = std::make_shared<Storage>(*storage_);
  return *storage_;
}

HTTPField HTTPResponse::PseudoHeaderFields::status() const { return storage_->status; }

void HTTPResponse::PseudoHeaderFields::setStatus(HTTPField field) {
  detail::precondition(field.name() == detail::statusName() && holdsStatusText(field),
                       "\":status\" needs a field named \":status\" holding three digits");
  uniqueStorage().status = std::move(field);
}

bool operator==(const HTTPResponse::PseudoHeaderFields& left,
                const HTTPResponse::PseudoHeaderFields& right) {
  return left.storage_->status == right.storage_->status;
}

std::size_t HTTPResponse::PseudoHeaderFields::hashValue() const noexcept {
  return storage_->status.hashValue();
}

boost::json::value HTTPResponse::PseudoHeaderFields::toJSON() const {
  return boost::json::array{storage_->status.toJSON()};
}

HTTPResponse::PseudoHeaderFields HTTPResponse::PseudoHeaderFields::fromJSON(
    const boost::json::value& json, const CodingPath& codingPath) {
  const auto& array = detail::asArray(json, codingPath);
  std::optional<HTTPField> status;
  for (std::size_t i = 0; i < array.size(); ++i) {
    HTTPField field = HTTPField::fromJSON(array[i], detail::appendingIndex(codingPath, i));
    if (field.name() == detail::statusName()) {
      if (status) {
        throw detail::dataCorrupted(codingPath, "Multiple \":status\" pseudo header fields");
      }
      status = std::move(field);
    } else if (field.name().rawName().front() != ':') {
      throw detail::dataCorrupted(codingPath, "\"" + field.name().rawName() + ": " + field.value() +
                                                  "\" is not a pseudo header field");
    }  // request pseudo-header fields are dropped
  }
  if (!status) {
    throw detail::dataCorrupted(codingPath, "\":status\" pseudo header field is missing");
  }
  if (!holdsStatusText(*status)) {
    throw detail::dataCorrupted(
        codingPath, "\"" + detail::storedValueText(*status) + "\" is not a valid status code");
  }
  return PseudoHeaderFields(std::make_shared<Storage>(Storage{std::move(*status), {}}));
}

// --- DecodingError

HTTPResponse::DecodingError::DecodingError(std::string reasonPhrase, CodingPath codingPath)
    : http_types::DecodingError(Kind::dataCorrupted, std::move(codingPath),
                                "HTTP reason phrase contains invalid characters"),
      reasonPhrase_(std::move(reasonPhrase)) {}

// --- HTTPResponse

HTTPResponse::HTTPResponse(const Status& status, HTTPFields headerFields)
    : pseudoHeaderFields(std::make_shared<PseudoHeaderFields::Storage>(PseudoHeaderFields::Storage{
          HTTPField(detail::statusName(), statusText(status.code())), status.reasonPhrase()})),
      headerFields(std::move(headerFields)) {}

HTTPResponse::Status HTTPResponse::status() const {
  const auto& storage = *pseudoHeaderFields.storage_;
  return Status(statusCode(storage.status), storage.reasonPhrase, Status::Unchecked{});
}

void HTTPResponse::setStatus(const Status& status) {
  HTTPField field = pseudoHeaderFields.status();
  field.setValue(statusText(status.code()));
  pseudoHeaderFields.setStatus(std::move(field));
  pseudoHeaderFields.uniqueStorage().reasonPhrase = status.reasonPhrase();
}

std::size_t HTTPResponse::hashValue() const {
  detail::Hasher hasher;
  hasher.combine(static_cast<std::uint64_t>(pseudoHeaderFields.hashValue()));
  hasher.combine(static_cast<std::uint64_t>(headerFields.hashValue()));
  return hasher.finalize();
}

boost::json::value HTTPResponse::toJSON() const {
  boost::json::object object;
  object["pseudoHeaderFields"] = pseudoHeaderFields.toJSON();
  object["reasonPhrase"] = pseudoHeaderFields.storage_->reasonPhrase;
  object["headerFields"] = headerFields.toJSON();
  return object;
}

HTTPResponse HTTPResponse::fromJSON(const boost::json::value& json, const CodingPath& codingPath) {
  const auto& object = detail::asObject(json, codingPath);
  auto pseudoHeaderFields =
      PseudoHeaderFields::fromJSON(detail::requiredValue(object, "pseudoHeaderFields", codingPath),
                                   detail::appending(codingPath, "pseudoHeaderFields"));

  const CodingPath phrasePath = detail::appending(codingPath, "reasonPhrase");
  const std::string_view reasonPhrase =
      detail::asString(detail::requiredValue(object, "reasonPhrase", codingPath), phrasePath);
  if (!detail::isValidReasonPhrase(reasonPhrase)) {
    throw DecodingError(std::string(reasonPhrase), phrasePath);
  }
  pseudoHeaderFields.storage_->reasonPhrase = reasonPhrase;

  auto headerFields =
      HTTPFields::fromJSON(detail::requiredValue(object, "headerFields", codingPath),
                           detail::appending(codingPath, "headerFields"));
  return HTTPResponse(std::move(pseudoHeaderFields), std::move(headerFields));
}

}  // namespace voduzazi::http_types
