// The request head: method, scheme, authority, path and extended-CONNECT protocol kept as
// pseudo-header fields, beside the ordinary header fields.
//
//   HTTPRequest request(HTTPRequest::Method::get, "https", "example.com", "/items");
//   request.headerFields.set(HTTPField::Name::accept, "application/json");
//   request.debugDescription();                      // "(GET) https://example.com/items"
//   auto method = HTTPRequest::Method::fromRawValue("PROPFIND");  // std::optional
#pragma once

#include <array>
#include <boost/json/value.hpp>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "voduzazi/http_types/decoding_error.hpp"
#include "voduzazi/http_types/http_field.hpp"
#include "voduzazi/http_types/http_fields.hpp"
#include "voduzazi/http_types/parsing_error.hpp"

namespace voduzazi::http_types {

class HTTPRequest {
 public:
  // A request method: a non-empty token kept exactly as given and compared case-sensitively
  // ("get" is not GET).
  class Method {
   public:
    // std::nullopt when `rawValue` is empty or holds a non-token character.
    static std::optional<Method> fromRawValue(std::string_view rawValue);

    const std::string& rawValue() const noexcept { return rawValue_; }
    const std::string& description() const noexcept { return rawValue_; }

    friend bool operator==(const Method&, const Method&) = default;
    std::size_t hashValue() const noexcept;

    static const Method get;
    static const Method head;
    static const Method post;
    static const Method put;
    static const Method delete_;
    static const Method connect;
    static const Method options;
    static const Method trace;
    static const Method patch;

   private:
    friend class HTTPRequest;
    explicit Method(std::string rawValue) : rawValue_(std::move(rawValue)) {}

    std::string rawValue_;
  };

  // The pseudo-header fields, each an HTTPField named after its slot. Setters stop the process
  // when given a field of another name (and, for the method, a value that is not a token).
  // Thread safety: a value may be read from many threads; changing it needs exclusive access.
  // Lifetime: a value type; copies share one storage until one of them changes (copy-on-write).
  class PseudoHeaderFields {
   public:
    PseudoHeaderFields(const PseudoHeaderFields&) = default;
    PseudoHeaderFields& operator=(const PseudoHeaderFields&) = default;

    HTTPField method() const;
    void setMethod(HTTPField field);
    std::optional<HTTPField> scheme() const { return slot(Slot::scheme); }
    void setScheme(std::optional<HTTPField> field) { setSlot(Slot::scheme, std::move(field)); }
    std::optional<HTTPField> authority() const { return slot(Slot::authority); }
    void setAuthority(std::optional<HTTPField> field) {
      setSlot(Slot::authority, std::move(field));
    }
    std::optional<HTTPField> path() const { return slot(Slot::path); }
    void setPath(std::optional<HTTPField> field) { setSlot(Slot::path, std::move(field)); }
    std::optional<HTTPField> extendedConnectProtocol() const { return slot(Slot::protocol); }
    void setExtendedConnectProtocol(std::optional<HTTPField> field) {
      setSlot(Slot::protocol, std::move(field));
    }

    friend bool operator==(const PseudoHeaderFields& left, const PseudoHeaderFields& right);
    std::size_t hashValue() const noexcept;

    // A JSON array: the method field, then each present optional field in slot order.
    boost::json::value toJSON() const;
    // Throws DecodingError for a repeated pseudo-header field, a regular field, a missing
    // ":method" or a method that is not a token; other pseudo-header fields are dropped.
    static PseudoHeaderFields fromJSON(const boost::json::value& json,
                                       const CodingPath& codingPath = {});

   private:
    friend class HTTPRequest;
    enum class Slot { scheme, authority, path, protocol };
    struct Storage;

    explicit PseudoHeaderFields(std::shared_ptr<Storage> storage);
    std::optional<HTTPField> slot(Slot slot) const;
    void setSlot(Slot slot, std::optional<HTTPField> field);
    Storage& uniqueStorage();

    std::shared_ptr<Storage> storage_;
  };

  // Each given text becomes its slot's field as HTTPField builds it (cleaned if needed).
  HTTPRequest(const Method& method, std::optional<std::string_view> scheme,
              std::optional<std::string_view> authority, std::optional<std::string_view> path,
              HTTPFields headerFields = {});

  // Fields read from the wire, pseudo-header fields first. Throws ParsingError.
  static HTTPRequest parsed(std::span<const HTTPField> fields);

  Method method() const;
  void setMethod(const Method& method);
  // Each text accessor reads the slot's value as text; setting a text keeps a present
  // field's indexing strategy, std::nullopt empties the slot.
  std::optional<std::string> scheme() const;
  void setScheme(std::optional<std::string_view> scheme);
  std::optional<std::string> authority() const;
  void setAuthority(std::optional<std::string_view> authority);
  std::optional<std::string> path() const;
  void setPath(std::optional<std::string_view> path);
  std::optional<std::string> extendedConnectProtocol() const;
  void setExtendedConnectProtocol(std::optional<std::string_view> protocol);

  // "(METHOD) scheme://authoritypath", leaving out what is absent.
  std::string debugDescription() const;

  friend bool operator==(const HTTPRequest&, const HTTPRequest&) = default;
  std::size_t hashValue() const;

  // {"pseudoHeaderFields": [...], "headerFields": [...]}.
  boost::json::value toJSON() const;
  static HTTPRequest fromJSON(const boost::json::value& json, const CodingPath& codingPath = {});

  PseudoHeaderFields pseudoHeaderFields;
  HTTPFields headerFields;

 private:
  HTTPRequest(PseudoHeaderFields pseudoHeaderFields, HTTPFields headerFields)
      : pseudoHeaderFields(std::move(pseudoHeaderFields)), headerFields(std::move(headerFields)) {}

  std::optional<std::string> slotText(PseudoHeaderFields::Slot slot) const;
  void setSlotText(PseudoHeaderFields::Slot slot, std::optional<std::string_view> text);
};

inline const HTTPRequest::Method HTTPRequest::Method::get{"GET"};
inline const HTTPRequest::Method HTTPRequest::Method::head{"HEAD"};
inline const HTTPRequest::Method HTTPRequest::Method::post{"POST"};
inline const HTTPRequest::Method HTTPRequest::Method::put{"PUT"};
inline const HTTPRequest::Method HTTPRequest::Method::delete_{"DELETE"};
inline const HTTPRequest::Method HTTPRequest::Method::connect{"CONNECT"};
inline const HTTPRequest::Method HTTPRequest::Method::options{"OPTIONS"};
inline const HTTPRequest::Method HTTPRequest::Method::trace{"TRACE"};
inline const HTTPRequest::Method HTTPRequest::Method::patch{"PATCH"};

}  // namespace voduzazi::http_types

template <>
struct std::hash<voduzazi::http_types::HTTPRequest::Method> {
  std::size_t operator()(const voduzazi::http_types::HTTPRequest::Method& method) const noexcept {
    return method.hashValue();
  }
};

template <>
struct std::hash<voduzazi::http_types::HTTPRequest> {
  std::size_t operator()(const voduzazi::http_types::HTTPRequest& request) const {
    return request.hashValue();
  }
};
