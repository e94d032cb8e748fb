// The error thrown when fields read from the wire do not form a valid request, response or
// trailer block.
//
//   try {
//     auto request = HTTPRequest::parsed(fieldsFromWire);
//   } catch (const ParsingError& error) {
//     if (error.code() == ParsingError::Code::pseudoNotFirst) reject(error.what());
//   }
#pragma once

#include <exception>

namespace voduzazi::http_types {

class ParsingError : public std::exception {
 public:
  enum class Code {
    invalidName,                 // reserved: not raised by this library
    invalidPseudoName,           // a ':' name that is not a known pseudo-header field
    invalidPseudoValue,          // reserved: not raised by this library
    multiplePseudo,              // a pseudo-header field arrived twice
    pseudoNotFirst,              // a pseudo-header field after a regular field
    requestWithoutMethod,        // no ":method"
    invalidMethod,               // ":method" is empty or not a token
    requestWithResponsePseudo,   // a request with ":status"
    responseWithoutStatus,       // no ":status"
    invalidStatus,               // ":status" is not three digits
    responseWithRequestPseudo,   // a response with a request pseudo-header field
    trailerFieldsWithPseudo,     // trailer fields with a pseudo-header field
    multipleContentLength,       // differing Content-Length fields
    multipleContentDisposition,  // differing Content-Disposition fields
    multipleLocation,            // differing Location fields
  };

  explicit ParsingError(Code code) noexcept : code_(code) {}

  Code code() const noexcept { return code_; }
  const char* what() const noexcept override;

  friend bool operator==(const ParsingError& left, const ParsingError& right) noexcept {
    return left.code_ == right.code_;
  }

 private:
  Code code_;
};

}  // namespace voduzazi::http_types
