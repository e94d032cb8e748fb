#include "voduzazi/http_types/detail/http_parsed_fields.hpp"

#include <algorithm>

#include "voduzazi/http_types/detail/field_syntax.hpp"
#include "voduzazi/http_types/detail/pseudo_header_names.hpp"

namespace voduzazi::http_types::detail {
namespace {

using Code = ParsingError::Code;

// The stored value under the slot's own name, with the automatic strategy: the wire field's
// name and strategy are not kept.
std::optional<HTTPField> slotField(const HTTPField::Name& name, std::optional<HTTPField> field) {
  if (field) {
    field->setName(name);
    field->setIndexingStrategy(HTTPField::DynamicTableIndexingStrategy::automatic);
  }
  return field;
}

bool holdsOctets(const HTTPField& field, bool (*rule)(std::string_view) noexcept) {
  return field.withUnsafeBytesOfValue(rule);
}

}  // namespace

void HTTPParsedFields::add(const HTTPField& field) {
  if (field.name().rawName().front() != ':') {
    fields_.append(field);
    return;
  }
  if (!fields_.empty()) throw ParsingError(Code::pseudoNotFirst);

  const std::pair<const HTTPField::Name*, std::optional<HTTPField>*> slots[] = {
      {&methodName(), &method_},
      {&schemeName(), &scheme_},
      {&authorityName(), &authority_},
      {&pathName(), &path_},
      {&protocolName(), &extendedConnectProtocol_},
      {&statusName(), &status_},
  };
  std::optional<HTTPField>* slot = nullptr;
  for (const auto& [name, candidate] : slots) {
    if (field.name() == *name) slot = candidate;
  }
  if (slot == nullptr) throw ParsingError(Code::invalidPseudoName);
  if (*slot) throw ParsingError(Code::multiplePseudo);
  *slot = field;
}

bool HTTPParsedFields::hasRequestPseudo() const {
  return method_ || scheme_ || authority_ || path_ || extendedConnectProtocol_;
}

void HTTPParsedFields::checkFieldConsistency() const {
  const std::pair<const HTTPField::Name*, Code> checks[] = {
      {&HTTPField::Name::contentLength, Code::multipleContentLength},
      {&HTTPField::Name::contentDisposition, Code::multipleContentDisposition},
      {&HTTPField::Name::location, Code::multipleLocation},
  };
  for (const auto& [name, code] : checks) {
    const std::vector<std::string> values = fields_.values(*name);
    if (std::any_of(values.begin(), values.end(),
                    [&](const std::string& value) { return value != values.front(); })) {
      throw ParsingError(code);
    }
  }
}

HTTPRequest HTTPParsedFields::request() const {
  if (!method_) throw ParsingError(Code::requestWithoutMethod);
  if (!holdsOctets(*method_, isNonEmptyToken)) throw ParsingError(Code::invalidMethod);
  if (status_) throw ParsingError(Code::requestWithResponsePseudo);
  checkFieldConsistency();

  HTTPRequest request(*HTTPRequest::Method::fromRawValue(method_->value()), std::nullopt,
                      std::nullopt, std::nullopt, fields_);
  request.pseudoHeaderFields.setScheme(slotField(schemeName(), scheme_));
  request.pseudoHeaderFields.setAuthority(slotField(authorityName(), authority_));
  request.pseudoHeaderFields.setPath(slotField(pathName(), path_));
  request.pseudoHeaderFields.setExtendedConnectProtocol(
      slotField(protocolName(), extendedConnectProtocol_));
  return request;
}

HTTPResponse HTTPParsedFields::response() const {
  if (!status_) throw ParsingError(Code::responseWithoutStatus);
  if (hasRequestPseudo()) throw ParsingError(Code::responseWithRequestPseudo);
  if (!holdsOctets(*status_, isStatusText)) throw ParsingError(Code::invalidStatus);
  checkFieldConsistency();

  const int code = status_->withUnsafeBytesOfValue(statusCode);
  return HTTPResponse(HTTPResponse::Status(code), fields_);
}

HTTPFields HTTPParsedFields::trailerFields() const {
  if (hasAnyPseudo()) throw ParsingError(Code::trailerFieldsWithPseudo);
  checkFieldConsistency();
  return fields_;
}

}  // namespace voduzazi::http_types::detail

namespace voduzazi::http_types {
namespace {

detail::HTTPParsedFields collect(std::span<const HTTPField> fields) {
  detail::HTTPParsedFields parsed;
  for (const HTTPField& field : fields) parsed.add(field);
  return parsed;
}

}  // namespace

HTTPRequest HTTPRequest::parsed(std::span<const HTTPField> fields) {
  return collect(fields).request();
}

HTTPResponse HTTPResponse::parsed(std::span<const HTTPField> fields) {
  return collect(fields).response();
}

HTTPFields HTTPFields::parsedTrailerFields(std::span<const HTTPField> fields) {
  return collect(fields).trailerFields();
}

}  // namespace voduzazi::http_types
