#include "voduzazi/http_types/http_request.hpp"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include "voduzazi/http_types/detail/contract.hpp"
#include "voduzazi/http_types/detail/copy_on_write.hpp"
#include "voduzazi/http_types/detail/field_syntax.hpp"
#include "voduzazi/http_types/detail/hasher.hpp"
#include "voduzazi/http_types/detail/json_coding.hpp"
#include "voduzazi/http_types/detail/pseudo_header_names.hpp"

namespace voduzazi::http_types {
namespace {

constexpr std::size_t slotCount = 4;

// In the order of PseudoHeaderFields::Slot.
const HTTPField::Name& slotName(std::size_t slot) {
  switch (slot) {
    case 0: return detail::schemeName();
    case 1: return detail::authorityName();
    case 2: return detail::pathName();
    default: return detail::protocolName();
  }
}

bool holdsToken(const HTTPField& field) {
  return field.withUnsafeBytesOfValue(detail::isNonEmptyToken);
}

}  // namespace

struct HTTPRequest::PseudoHeaderFields::Storage {
  HTTPField method;
  std::array<std::optional<HTTPField>, slotCount> optionalFields;  // indexed by Slot

  friend bool operator==(const Storage&, const Storage&) = default;
};

// --- PseudoHeaderFields

HTTPRequest::PseudoHeaderFields::PseudoHeaderFields(std::shared_ptr<Storage> storage)
    : storage_(std::move(storage)) {}

HTTPRequest::PseudoHeaderFields::Storage& HTTPRequest::PseudoHeaderFields::uniqueStorage() {
  if (!detail::isUniquelyReferenced(storage_)) storage_ = std::make_shared<Storage>(*storage_);
  return *storage_;
}

HTTPField HTTPRequest::PseudoHeaderFields::method() const { return storage_->method; }

void HTTPRequest::PseudoHeaderFields::setMethod(HTTPField field) {
  detail::precondition(field.name() == detail::methodName() && holdsToken(field),
                       "\":method\" needs a field named \":method\" holding a token");
  uniqueStorage().method = std::move(field);
}

std::optional<HTTPField> HTTPRequest::PseudoHeaderFields::slot(Slot slot) const {
  return storage_->optionalFields[static_cast<std::size_t>(slot)];
}

void HTTPRequest::PseudoHeaderFields::setSlot(Slot slot, std::optional<HTTPField> field) {
  const auto position = static_cast<std::size_t>(slot);
  detail::precondition(!field || field->name() == slotName(position),
                       "pseudo header field stored under another name");
  uniqueStorage().optionalFields[position] = std::move(field);
}

bool operator==(const HTTPRequest::PseudoHeaderFields& left,
                const HTTPRequest::PseudoHeaderFields& right) {
  return *left.storage_ == *right.storage_;
}

std::size_t HTTPRequest::PseudoHeaderFields::hashValue() const noexcept {
  detail::Hasher hasher;
  hasher.combine(static_cast<std::uint64_t>(storage_->method.hashValue()));
  for (const auto& field : storage_->optionalFields) {
    hasher.combine(std::uint64_t{field ? 1U : 0U});
    if (field) hasher.combine(static_cast<std::uint64_t>(field->hashValue()));
  }
  return hasher.finalize();
}

boost::json::value HTTPRequest::PseudoHeaderFields::toJSON() const {
  boost::json::array array;
  array.push_back(storage_->method.toJSON());
  for (const auto& field : storage_->optionalFields) {
    if (field) array.push_back(field->toJSON());
  }
  return array;
}

HTTPRequest::PseudoHeaderFields HTTPRequest::PseudoHeaderFields::fromJSON(
    const boost::json::value& json, const CodingPath& codingPath) {
  const auto& array = detail::asArray(json, codingPath);
  std::optional<HTTPField> method;
  std::array<std::optional<HTTPField>, slotCount> optionalFields;
  for (std::size_t i = 0; i < array.size(); ++i) {
    HTTPField field = HTTPField::fromJSON(array[i], detail::appendingIndex(codingPath, i));
    std::optional<HTTPField>* slot = nullptr;
    if (field.name() == detail::methodName()) slot = &method;
    for (std::size_t s = 0; s < slotCount; ++s) {
      if (field.name() == slotName(s)) slot = &optionalFields[s];
    }
    if (slot != nullptr && *slot) {
      throw detail::dataCorrupted(
          codingPath, "Multiple \"" + field.name().canonicalName() + "\" pseudo header fields");
    }
    if (slot != nullptr) {
      *slot = std::move(field);
    } else if (field.name().rawName().front() != ':') {
      throw detail::dataCorrupted(codingPath, "\"" + field.name().rawName() + ": " + field.value() +
                                                  "\" is not a pseudo header field");
    }  // other pseudo-header fields (":status") are dropped
  }
  if (!method) {
    throw detail::dataCorrupted(codingPath, "\":method\" pseudo header field is missing");
  }
  if (!holdsToken(*method)) {
    throw detail::dataCorrupted(
        codingPath, "\"" + detail::storedValueText(*method) + "\" is not a valid method");
  }
  return PseudoHeaderFields(
      std::make_shared<Storage>(Storage{std::move(*method), std::move(optionalFields)}));
}

// --- HTTPRequest

HTTPRequest::HTTPRequest(const Method& method, std::optional<std::string_view> scheme,
                         std::optional<std::string_view> authority,
                         std::optional<std::string_view> path, HTTPFields headerFields)
    : pseudoHeaderFields(std::make_shared<PseudoHeaderFields::Storage>(
          PseudoHeaderFields::Storage{HTTPField(detail::methodName(), method.rawValue()), {}})),
      headerFields(std::move(headerFields)) {
  const std::array<std::optional<std::string_view>, 3> texts = {scheme, authority, path};
  for (std::size_t s = 0; s < texts.size(); ++s) {
    if (texts[s]) pseudoHeaderFields.storage_->optionalFields[s].emplace(slotName(s), *texts[s]);
  }
}

HTTPRequest::Method HTTPRequest::method() const {
  return Method(pseudoHeaderFields.storage_->method.value());
}

void HTTPRequest::setMethod(const Method& method) {
  HTTPField field = pseudoHeaderFields.method();
  field.setValue(method.rawValue());
  pseudoHeaderFields.setMethod(std::move(field));
}

std::optional<std::string> HTTPRequest::slotText(PseudoHeaderFields::Slot slot) const {
  const auto& field = pseudoHeaderFields.storage_->optionalFields[static_cast<std::size_t>(slot)];
  if (!field) return std::nullopt;
  return field->value();
}

void HTTPRequest::setSlotText(PseudoHeaderFields::Slot slot, std::optional<std::string_view> text) {
  if (!text) {
    pseudoHeaderFields.setSlot(slot, std::nullopt);
    return;
  }
  std::optional<HTTPField> field = pseudoHeaderFields.slot(slot);
  if (field) {
    field->setValue(*text);
  } else {
    field.emplace(slotName(static_cast<std::size_t>(slot)), *text);
  }
  pseudoHeaderFields.setSlot(slot, std::move(field));
}

std::optional<std::string> HTTPRequest::scheme() const {
  return slotText(PseudoHeaderFields::Slot::scheme);
}
void HTTPRequest::setScheme(std::optional<std::string_view> scheme) {
  setSlotText(PseudoHeaderFields::Slot::scheme, scheme);
}
std::optional<std::string> HTTPRequest::authority() const {
  return slotText(PseudoHeaderFields::Slot::authority);
}
void HTTPRequest::setAuthority(std::optional<std::string_view> authority) {
  setSlotText(PseudoHeaderFields::Slot::authority, authority);
}
std::optional<std::string> HTTPRequest::path() const {
  return slotText(PseudoHeaderFields::Slot::path);
}
void HTTPRequest::setPath(std::optional<std::string_view> path) {
  setSlotText(PseudoHeaderFields::Slot::path, path);
}
std::optional<std::string> HTTPRequest::extendedConnectProtocol() const {
  return slotText(PseudoHeaderFields::Slot::protocol);
}
void HTTPRequest::setExtendedConnectProtocol(std::optional<std::string_view> protocol) {
  setSlotText(PseudoHeaderFields::Slot::protocol, protocol);
}

std::string HTTPRequest::debugDescription() const {
  std::string text = "(" + method().rawValue() + ") ";
  if (auto scheme = this->scheme()) text += *scheme + "://";
  if (auto authority = this->authority()) text += *authority;
  if (auto path = this->path()) text += *path;
  return text;
}

std::size_t HTTPRequest::hashValue() const {
  detail::Hasher hasher;
  hasher.combine(static_cast<std::uint64_t>(pseudoHeaderFields.hashValue()));
  hasher.combine(static_cast<std::uint64_t>(headerFields.hashValue()));
  return hasher.finalize();
}

boost::json::value HTTPRequest::toJSON() const {
  boost::json::object object;
  object["pseudoHeaderFields"] = pseudoHeaderFields.toJSON();
  object["headerFields"] = headerFields.toJSON();
  return object;
}

HTTPRequest HTTPRequest::fromJSON(const boost::json::value& json, const CodingPath& codingPath) {
  const auto& object = detail::asObject(json, codingPath);
  auto pseudoHeaderFields =
      PseudoHeaderFields::fromJSON(detail::requiredValue(object, "pseudoHeaderFields", codingPath),
                                   detail::appending(codingPath, "pseudoHeaderFields"));
  auto headerFields =
      HTTPFields::fromJSON(detail::requiredValue(object, "headerFields", codingPath),
                           detail::appending(codingPath, "headerFields"));
  return HTTPRequest(std::move(pseudoHeaderFields), std::move(headerFields));
}

}  // namespace voduzazi::http_types
