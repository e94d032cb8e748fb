// The response head: the status (code and reason phrase) kept as the ":status" pseudo-header
// field, beside the ordinary header fields.
//
//   HTTPResponse response(HTTPResponse::Status::notFound);
//   response.status().kind();              // HTTPResponse::Status::Kind::clientError
//   response.setStatus(HTTPResponse::Status(299, "Custom"));
//   HTTPResponse::Status(404) == HTTPResponse::Status::notFound;  // true: phrases do not count
#pragma once

#include <boost/json/value.hpp>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "voduzazi/http_types/decoding_error.hpp"
#include "voduzazi/http_types/http_field.hpp"
#include "voduzazi/http_types/http_fields.hpp"
#include "voduzazi/http_types/parsing_error.hpp"

namespace voduzazi::http_types {

class HTTPResponse {
 public:
  // A status code from 0 to 999 with its reason phrase. Equality and hashing use the code only.
  class Status {
   public:
    enum class Kind { invalid, informational, successful, redirection, clientError, serverError };

    // Stops the process unless 0 <= code <= 999. A phrase holding a control character (other
    // than HTAB) or DEL is repaired: those characters and every character above U+00FF become
    // spaces; any other phrase is kept as given.
    explicit Status(int code, std::string_view reasonPhrase = {});

    int code() const noexcept { return code_; }
    const std::string& reasonPhrase() const noexcept { return reasonPhrase_; }
    // By code range: 1xx informational ... 5xx serverError, anything else invalid.
    Kind kind() const noexcept;
    // "<code> <phrase>"; the space is there also for an empty phrase.
    std::string description() const;

    friend bool operator==(const Status& left, const Status& right) noexcept {
      return left.code_ == right.code_;
    }
    std::size_t hashValue() const noexcept;

    static const Status continue_;
    static const Status switchingProtocols;
    static const Status earlyHints;
    static const Status ok;
    static const Status created;
    static const Status accepted;
    static const Status nonAuthoritativeInformation;
    static const Status noContent;
    static const Status resetContent;
    static const Status partialContent;
    static const Status multipleChoices;
    static const Status movedPermanently;
    static const Status found;
    static const Status seeOther;
    static const Status notModified;
    static const Status temporaryRedirect;
    static const Status permanentRedirect;
    static const Status badRequest;
    static const Status unauthorized;
    static const Status forbidden;
    static const Status notFound;
    static const Status methodNotAllowed;
    static const Status notAcceptable;
    static const Status proxyAuthenticationRequired;
    static const Status requestTimeout;
    static const Status conflict;
    static const Status gone;
    static const Status lengthRequired;
    static const Status preconditionFailed;
    static const Status contentTooLarge;
    static const Status uriTooLong;
    static const Status unsupportedMediaType;
    static const Status rangeNotSatisfiable;
    static const Status expectationFailed;
    static const Status misdirectedRequest;
    static const Status unprocessableContent;
    static const Status tooEarly;
    static const Status upgradeRequired;
    static const Status preconditionRequired;
    static const Status tooManyRequests;
    static const Status requestHeaderFieldsTooLarge;
    static const Status unavailableForLegalReasons;
    static const Status internalServerError;
    static const Status notImplemented;
    static const Status badGateway;
    static const Status serviceUnavailable;
    static const Status gatewayTimeout;
    static const Status httpVersionNotSupported;
    static const Status networkAuthenticationRequired;

   private:
    friend class HTTPResponse;
    struct Unchecked {};
    Status(int code, std::string reasonPhrase, Unchecked) noexcept
        : code_(code), reasonPhrase_(std::move(reasonPhrase)) {}

    int code_;
    std::string reasonPhrase_;
  };

  // The ":status" field and the reason phrase that travels beside it; only the field counts
  // for equality, hashing and coding.
  // Thread safety: a value may be read from many threads; changing it needs exclusive access.
  // Lifetime: a value type; copies share one storage until one of them changes (copy-on-write).
  class PseudoHeaderFields {
   public:
    PseudoHeaderFields(const PseudoHeaderFields&) = default;
    PseudoHeaderFields& operator=(const PseudoHeaderFields&) = default;

    HTTPField status() const;
    // Stops the process unless the field is named ":status" and its value is three digits.
    void setStatus(HTTPField field);

    friend bool operator==(const PseudoHeaderFields& left, const PseudoHeaderFields& right);
    std::size_t hashValue() const noexcept;

    // A JSON array holding the ":status" field alone.
    boost::json::value toJSON() const;
    // Throws DecodingError for a repeated or missing ":status", a regular field, or a status
    // that is not three digits; request pseudo-header fields are dropped.
    static PseudoHeaderFields fromJSON(const boost::json::value& json,
                                       const CodingPath& codingPath = {});

   private:
    friend class HTTPResponse;
    struct Storage;

    explicit PseudoHeaderFields(std::shared_ptr<Storage> storage);
    Storage& uniqueStorage();

    std::shared_ptr<Storage> storage_;
  };

  // Thrown by fromJSON for a reason phrase holding a control character; decoding never
  // repairs a phrase.
  class DecodingError : public http_types::DecodingError {
   public:
    enum class Code { invalidReasonPhrase };

    DecodingError(std::string reasonPhrase, CodingPath codingPath);

    Code code() const noexcept { return Code::invalidReasonPhrase; }
    const std::string& reasonPhrase() const noexcept { return reasonPhrase_; }

   private:
    std::string reasonPhrase_;
  };

  explicit HTTPResponse(const Status& status, HTTPFields headerFields = {});

  // Fields read from the wire, pseudo-header fields first. Throws ParsingError.
  static HTTPResponse parsed(std::span<const HTTPField> fields);

  Status status() const;
  void setStatus(const Status& status);

  // The status's description.
  std::string debugDescription() const { return status().description(); }

  // The reason phrase does not count.
  friend bool operator==(const HTTPResponse&, const HTTPResponse&) = default;
  std::size_t hashValue() const;

  // {"pseudoHeaderFields": [...], "reasonPhrase": "...", "headerFields": [...]}.
  boost::json::value toJSON() const;
  // Throws http_types::DecodingError, or HTTPResponse::DecodingError for a bad reason phrase.
  static HTTPResponse fromJSON(const boost::json::value& json, const CodingPath& codingPath = {});

  PseudoHeaderFields pseudoHeaderFields;
  HTTPFields headerFields;

 private:
  HTTPResponse(PseudoHeaderFields pseudoHeaderFields, HTTPFields headerFields)
      : pseudoHeaderFields(std::move(pseudoHeaderFields)), headerFields(std::move(headerFields)) {}
};

inline const HTTPResponse::Status HTTPResponse::Status::continue_{100, "Continue", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::switchingProtocols{
    101, "Switching Protocols", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::earlyHints{103, "Early Hints", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::ok{200, "OK", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::created{201, "Created", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::accepted{202, "Accepted", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::nonAuthoritativeInformation{
    203, "Non-Authoritative Information", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::noContent{204, "No Content", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::resetContent{205, "Reset Content",
                                                                     Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::partialContent{206, "Partial Content",
                                                                       Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::multipleChoices{300, "Multiple Choices",
                                                                        Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::movedPermanently{301, "Moved Permanently",
                                                                         Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::found{302, "Found", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::seeOther{303, "See Other", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::notModified{304, "Not Modified",
                                                                    Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::temporaryRedirect{307, "Temporary Redirect",
                                                                          Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::permanentRedirect{308, "Permanent Redirect",
                                                                          Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::badRequest{400, "Bad Request", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::unauthorized{401, "Unauthorized",
                                                                     Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::forbidden{403, "Forbidden", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::notFound{404, "Not Found", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::methodNotAllowed{405, "Method Not Allowed",
                                                                         Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::notAcceptable{406, "Not Acceptable",
                                                                      Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::proxyAuthenticationRequired{
    407, "Proxy Authentication Required", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::requestTimeout{408, "Request Timeout",
                                                                       Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::conflict{409, "Conflict", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::gone{410, "Gone", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::lengthRequired{411, "Length Required",
                                                                       Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::preconditionFailed{
    412, "Precondition Failed", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::contentTooLarge{413, "Content Too Large",
                                                                        Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::uriTooLong{414, "URI Too Long",
                                                                   Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::unsupportedMediaType{
    415, "Unsupported Media Type", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::rangeNotSatisfiable{
    416, "Range Not Satisfiable", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::expectationFailed{417, "Expectation Failed",
                                                                          Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::misdirectedRequest{
    421, "Misdirected Request", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::unprocessableContent{
    422, "Unprocessable Content", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::tooEarly{425, "Too Early", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::upgradeRequired{426, "Upgrade Required",
                                                                        Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::preconditionRequired{
    428, "Precondition Required", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::tooManyRequests{429, "Too Many Requests",
                                                                        Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::requestHeaderFieldsTooLarge{
    431, "Request Header Fields Too Large", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::unavailableForLegalReasons{
    451, "Unavailable For Legal Reasons", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::internalServerError{
    500, "Internal Server Error", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::notImplemented{501, "Not Implemented",
                                                                       Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::badGateway{502, "Bad Gateway", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::serviceUnavailable{
    503, "Service Unavailable", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::gatewayTimeout{504, "Gateway Timeout",
                                                                       Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::httpVersionNotSupported{
    505, "HTTP Version Not Supported", Unchecked{}};
inline const HTTPResponse::Status HTTPResponse::Status::networkAuthenticationRequired{
    511, "Network Authentication Required", Unchecked{}};

}  // namespace voduzazi::http_types

template <>
struct std::hash<voduzazi::http_types::HTTPResponse::Status> {
  std::size_t operator()(const voduzazi::http_types::HTTPResponse::Status& status) const noexcept {
    return status.hashValue();
  }
};

template <>
struct std::hash<voduzazi::http_types::HTTPResponse> {
  std::size_t operator()(const voduzazi::http_types::HTTPResponse& response) const {
    return response.hashValue();
  }
};
