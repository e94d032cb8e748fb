// One HTTP header field and its validated, case-insensitive name.
//
//   HTTPField::Name apiKey("apikey");                   // throws InvalidFieldNameError if invalid
//   auto maybe = HTTPField::Name::fromString("a b");    // std::nullopt: space is not allowed
//   HTTPField field(HTTPField::Name::contentType, "application/json");
//   field.description();                                // "Content-Type: application/json"
//   field.setValue(" padded\r\n");                      // stored as "padded"
#pragma once

#include <boost/json/value.hpp>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "voduzazi/http_types/decoding_error.hpp"
#include "voduzazi/http_types/detail/iso_latin1_string.hpp"

namespace voduzazi::http_types {

// Thrown by the HTTPField::Name constructor for a name that is empty or not a token.
class InvalidFieldNameError : public std::exception {
 public:
  explicit InvalidFieldNameError(std::string name);

  const std::string& name() const noexcept { return name_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string name_;
  std::string message_;
};

// A header field: a name, a value held as octets, and a header-compression indexing hint.
// The value always satisfies the field-value rule unless it was built leniently.
class HTTPField {
 public:
  // A field name. Compares and hashes by its lower-case form, so "Accept" == "accept".
  class Name {
   public:
    // Throws InvalidFieldNameError when `name` is empty or holds a non-token character
    // (anything but letters, digits and !#$%&'*+-.^_`|~).
    explicit Name(std::string_view name);

    // As the constructor, but gives std::nullopt for an invalid name.
    static std::optional<Name> fromString(std::string_view name);

    // A name read from the wire, already lower-case: one leading ':' is allowed (pseudo-header
    // names), the rest must be token characters other than A-Z. Gives std::nullopt otherwise.
    static std::optional<Name> fromParsed(std::string_view name);

    // The text as given, with its letter case; used for printing and encoding.
    const std::string& rawName() const noexcept { return rawName_; }
    // The name with A-Z lowered; equality and hashing use it alone.
    const std::string& canonicalName() const noexcept { return canonicalName_; }
    const std::string& description() const noexcept { return rawName_; }

    friend bool operator==(const Name& left, const Name& right) noexcept {
      return left.canonicalName_ == right.canonicalName_;
    }
    std::size_t hashValue() const noexcept;

    // Coded as a single string, the raw name.
    boost::json::value toJSON() const;
    // Throws DecodingError (dataCorrupted) for a name that is not a token or a lower-case
    // pseudo-header name.
    static Name fromJSON(const boost::json::value& json, const CodingPath& codingPath = {});

    static const Name accept;
    static const Name acceptEncoding;
    static const Name acceptLanguage;
    static const Name acceptRanges;
    static const Name accessControlAllowCredentials;
    static const Name accessControlAllowHeaders;
    static const Name accessControlAllowMethods;
    static const Name accessControlAllowOrigin;
    static const Name accessControlExposeHeaders;
    static const Name accessControlMaxAge;
    static const Name accessControlRequestHeaders;
    static const Name accessControlRequestMethod;
    static const Name age;
    static const Name allow;
    static const Name authenticationInfo;
    static const Name authorization;
    static const Name cacheControl;
    static const Name connection;
    static const Name contentDisposition;
    static const Name contentEncoding;
    static const Name contentLanguage;
    static const Name contentLength;
    static const Name contentLocation;
    static const Name contentRange;
    static const Name contentSecurityPolicy;
    static const Name contentSecurityPolicyReportOnly;
    static const Name contentType;
    static const Name cookie;
    static const Name crossOriginResourcePolicy;
    static const Name date;
    static const Name earlyData;
    static const Name eTag;
    static const Name expect;
    static const Name expires;
    static const Name from;
    static const Name host;
    static const Name ifMatch;
    static const Name ifModifiedSince;
    static const Name ifNoneMatch;
    static const Name ifRange;
    static const Name ifUnmodifiedSince;
    static const Name lastModified;
    static const Name location;
    static const Name maxForwards;
    static const Name origin;
    static const Name priority;
    static const Name proxyAuthenticate;
    static const Name proxyAuthenticationInfo;
    static const Name proxyAuthorization;
    static const Name proxyStatus;
    static const Name range;
    static const Name referer;
    static const Name retryAfter;
    static const Name secPurpose;
    static const Name secWebSocketAccept;
    static const Name secWebSocketExtensions;
    static const Name secWebSocketKey;
    static const Name secWebSocketProtocol;
    static const Name secWebSocketVersion;
    static const Name server;
    static const Name setCookie;
    static const Name strictTransportSecurity;
    static const Name te;
    static const Name trailer;
    static const Name transferEncoding;
    static const Name upgrade;
    static const Name userAgent;
    static const Name vary;
    static const Name via;
    static const Name wwwAuthenticate;
    static const Name xContentTypeOptions;

   private:
    Name(std::string rawName, std::string canonicalName)
        : rawName_(std::move(rawName)), canonicalName_(std::move(canonicalName)) {}
    static Name wellKnown(std::string_view rawName);

    std::string rawName_;
    std::string canonicalName_;
  };

  // A hint for a header-compression table; carried along, never interpreted here.
  enum class DynamicTableIndexingStrategy : std::uint8_t {
    automatic = 0,
    prefer = 1,
    avoid = 2,
    disallow = 3,
  };

  // The value's octets are the bytes of `value` (UTF-8 for text). A value that breaks the
  // field-value rule is cleaned: disallowed octets become spaces, spaces and tabs at both ends
  // are dropped. The indexing strategy is automatic.
  HTTPField(Name name, std::string_view value);

  // Keeps the octets as given except NUL, CR and LF, which become spaces; for values already
  // read from the wire.
  static HTTPField withLenientValue(Name name, std::string_view octets);

  const Name& name() const noexcept { return name_; }
  void setName(Name name) { name_ = std::move(name); }

  DynamicTableIndexingStrategy indexingStrategy() const noexcept { return indexingStrategy_; }
  void setIndexingStrategy(DynamicTableIndexingStrategy strategy) noexcept {
    indexingStrategy_ = strategy;
  }

  // The value as text: the octets read as UTF-8, ill-formed sequences as U+FFFD.
  std::string value() const { return rawValue_.text(); }
  // Cleans the new value exactly as the constructor does.
  void setValue(std::string_view value);

  // Calls `body` once with the value octets as a std::string_view and returns its result.
  template <class Body>
  decltype(auto) withUnsafeBytesOfValue(Body&& body) const {
    return std::forward<Body>(body)(rawValue_.octets());
  }

  // The field-value rule: no SP or HTAB at either end; only SP, HTAB, visible ASCII and
  // octets 0x80-0xFF. The empty value is valid.
  static bool isValidValue(std::string_view octets) noexcept;

  // "<raw name>: <value>".
  std::string description() const;

  // Same canonical name, same strategy, same octets; the raw name's case does not count.
  friend bool operator==(const HTTPField&, const HTTPField&) = default;
  std::size_t hashValue() const noexcept;

  // {"name": raw name, "value": octets as Latin-1 text[, "indexingStrategy": n]}; the
  // strategy is written only when it is not automatic.
  boost::json::value toJSON() const;
  // Throws DecodingError for a missing key, a wrong type, an invalid name, or a value that
  // breaks the field-value rule.
  static HTTPField fromJSON(const boost::json::value& json, const CodingPath& codingPath = {});

 private:
  HTTPField(Name name, detail::ISOLatin1String rawValue)
      : name_(std::move(name)), rawValue_(std::move(rawValue)) {}

  Name name_;
  DynamicTableIndexingStrategy indexingStrategy_ = DynamicTableIndexingStrategy::automatic;
  detail::ISOLatin1String rawValue_;
};

// The well-known field names.
inline const HTTPField::Name HTTPField::Name::accept = Name::wellKnown("Accept");
inline const HTTPField::Name HTTPField::Name::acceptEncoding = Name::wellKnown("Accept-Encoding");
inline const HTTPField::Name HTTPField::Name::acceptLanguage = Name::wellKnown("Accept-Language");
inline const HTTPField::Name HTTPField::Name::acceptRanges = Name::wellKnown("Accept-Ranges");
inline const HTTPField::Name HTTPField::Name::accessControlAllowCredentials =
    Name::wellKnown("Access-Control-Allow-Credentials");
inline const HTTPField::Name HTTPField::Name::accessControlAllowHeaders =
    Name::wellKnown("Access-Control-Allow-Headers");
inline const HTTPField::Name HTTPField::Name::accessControlAllowMethods =
    Name::wellKnown("Access-Control-Allow-Methods");
inline const HTTPField::Name HTTPField::Name::accessControlAllowOrigin =
    Name::wellKnown("Access-Control-Allow-Origin");
inline const HTTPField::Name HTTPField::Name::accessControlExposeHeaders =
    Name::wellKnown("Access-Control-Expose-Headers");
inline const HTTPField::Name HTTPField::Name::accessControlMaxAge =
    Name::wellKnown("Access-Control-Max-Age");
inline const HTTPField::Name HTTPField::Name::accessControlRequestHeaders =
    Name::wellKnown("Access-Control-Request-Headers");
inline const HTTPField::Name HTTPField::Name::accessControlRequestMethod =
    Name::wellKnown("Access-Control-Request-Method");
inline const HTTPField::Name HTTPField::Name::age = Name::wellKnown("Age");
inline const HTTPField::Name HTTPField::Name::allow = Name::wellKnown("Allow");
inline const HTTPField::Name HTTPField::Name::authenticationInfo =
    Name::wellKnown("Authentication-Info");
inline const HTTPField::Name HTTPField::Name::authorization = Name::wellKnown("Authorization");
inline const HTTPField::Name HTTPField::Name::cacheControl = Name::wellKnown("Cache-Control");
inline const HTTPField::Name HTTPField::Name::connection = Name::wellKnown("Connection");
inline const HTTPField::Name HTTPField::Name::contentDisposition =
    Name::wellKnown("Content-Disposition");
inline const HTTPField::Name HTTPField::Name::contentEncoding = Name::wellKnown("Content-Encoding");
inline const HTTPField::Name HTTPField::Name::contentLanguage = Name::wellKnown("Content-Language");
inline const HTTPField::Name HTTPField::Name::contentLength = Name::wellKnown("Content-Length");
inline const HTTPField::Name HTTPField::Name::contentLocation = Name::wellKnown("Content-Location");
inline const HTTPField::Name HTTPField::Name::contentRange = Name::wellKnown("Content-Range");
inline const HTTPField::Name HTTPField::Name::contentSecurityPolicy =
    Name::wellKnown("Content-Security-Policy");
inline const HTTPField::Name HTTPField::Name::contentSecurityPolicyReportOnly =
    Name::wellKnown("Content-Security-Policy-Report-Only");
inline const HTTPField::Name HTTPField::Name::contentType = Name::wellKnown("Content-Type");
inline const HTTPField::Name HTTPField::Name::cookie = Name::wellKnown("Cookie");
inline const HTTPField::Name HTTPField::Name::crossOriginResourcePolicy =
    Name::wellKnown("Cross-Origin-Resource-Policy");
inline const HTTPField::Name HTTPField::Name::date = Name::wellKnown("Date");
inline const HTTPField::Name HTTPField::Name::earlyData = Name::wellKnown("Early-Data");
inline const HTTPField::Name HTTPField::Name::eTag = Name::wellKnown("ETag");
inline const HTTPField::Name HTTPField::Name::expect = Name::wellKnown("Expect");
inline const HTTPField::Name HTTPField::Name::expires = Name::wellKnown("Expires");
inline const HTTPField::Name HTTPField::Name::from = Name::wellKnown("From");
inline const HTTPField::Name HTTPField::Name::host = Name::wellKnown("Host");
inline const HTTPField::Name HTTPField::Name::ifMatch = Name::wellKnown("If-Match");
inline const HTTPField::Name HTTPField::Name::ifModifiedSince =
    Name::wellKnown("If-Modified-Since");
inline const HTTPField::Name HTTPField::Name::ifNoneMatch = Name::wellKnown("If-None-Match");
inline const HTTPField::Name HTTPField::Name::ifRange = Name::wellKnown("If-Range");
inline const HTTPField::Name HTTPField::Name::ifUnmodifiedSince =
    Name::wellKnown("If-Unmodified-Since");
inline const HTTPField::Name HTTPField::Name::lastModified = Name::wellKnown("Last-Modified");
inline const HTTPField::Name HTTPField::Name::location = Name::wellKnown("Location");
inline const HTTPField::Name HTTPField::Name::maxForwards = Name::wellKnown("Max-Forwards");
inline const HTTPField::Name HTTPField::Name::origin = Name::wellKnown("Origin");
inline const HTTPField::Name HTTPField::Name::priority = Name::wellKnown("Priority");
inline const HTTPField::Name HTTPField::Name::proxyAuthenticate =
    Name::wellKnown("Proxy-Authenticate");
inline const HTTPField::Name HTTPField::Name::proxyAuthenticationInfo =
    Name::wellKnown("Proxy-Authentication-Info");
inline const HTTPField::Name HTTPField::Name::proxyAuthorization =
    Name::wellKnown("Proxy-Authorization");
inline const HTTPField::Name HTTPField::Name::proxyStatus = Name::wellKnown("Proxy-Status");
inline const HTTPField::Name HTTPField::Name::range = Name::wellKnown("Range");
inline const HTTPField::Name HTTPField::Name::referer = Name::wellKnown("Referer");
inline const HTTPField::Name HTTPField::Name::retryAfter = Name::wellKnown("Retry-After");
inline const HTTPField::Name HTTPField::Name::secPurpose = Name::wellKnown("Sec-Purpose");
inline const HTTPField::Name HTTPField::Name::secWebSocketAccept =
    Name::wellKnown("Sec-WebSocket-Accept");
inline const HTTPField::Name HTTPField::Name::secWebSocketExtensions =
    Name::wellKnown("Sec-WebSocket-Extensions");
inline const HTTPField::Name HTTPField::Name::secWebSocketKey =
    Name::wellKnown("Sec-WebSocket-Key");
inline const HTTPField::Name HTTPField::Name::secWebSocketProtocol =
    Name::wellKnown("Sec-WebSocket-Protocol");
inline const HTTPField::Name HTTPField::Name::secWebSocketVersion =
    Name::wellKnown("Sec-WebSocket-Version");
inline const HTTPField::Name HTTPField::Name::server = Name::wellKnown("Server");
inline const HTTPField::Name HTTPField::Name::setCookie = Name::wellKnown("Set-Cookie");
inline const HTTPField::Name HTTPField::Name::strictTransportSecurity =
    Name::wellKnown("Strict-Transport-Security");
inline const HTTPField::Name HTTPField::Name::te = Name::wellKnown("TE");
inline const HTTPField::Name HTTPField::Name::trailer = Name::wellKnown("Trailer");
inline const HTTPField::Name HTTPField::Name::transferEncoding =
    Name::wellKnown("Transfer-Encoding");
inline const HTTPField::Name HTTPField::Name::upgrade = Name::wellKnown("Upgrade");
inline const HTTPField::Name HTTPField::Name::userAgent = Name::wellKnown("User-Agent");
inline const HTTPField::Name HTTPField::Name::vary = Name::wellKnown("Vary");
inline const HTTPField::Name HTTPField::Name::via = Name::wellKnown("Via");
inline const HTTPField::Name HTTPField::Name::wwwAuthenticate = Name::wellKnown("WWW-Authenticate");
inline const HTTPField::Name HTTPField::Name::xContentTypeOptions =
    Name::wellKnown("X-Content-Type-Options");

}  // namespace voduzazi::http_types

template <>
struct std::hash<voduzazi::http_types::HTTPField::Name> {
  std::size_t operator()(const voduzazi::http_types::HTTPField::Name& name) const noexcept {
    return name.hashValue();
  }
};

template <>
struct std::hash<voduzazi::http_types::HTTPField> {
  std::size_t operator()(const voduzazi::http_types::HTTPField& field) const noexcept {
    return field.hashValue();
  }
};
