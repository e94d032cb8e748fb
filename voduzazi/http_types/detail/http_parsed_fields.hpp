// Sorts fields read from the wire into pseudo-header slots and regular fields, then builds a
// validated request, response or trailer block.
//
//   detail::HTTPParsedFields parsed;
//   for (const HTTPField& field : fromWire) parsed.add(field);  // throws ParsingError
//   HTTPRequest request = parsed.request();                    // throws ParsingError
#pragma once

#include <optional>

#include "voduzazi/http_types/http_field.hpp"
#include "voduzazi/http_types/http_fields.hpp"
#include "voduzazi/http_types/http_request.hpp"
#include "voduzazi/http_types/http_response.hpp"

namespace voduzazi::http_types::detail {

class HTTPParsedFields {
 public:
  void add(const HTTPField& field);

  HTTPRequest request() const;
  HTTPResponse response() const;
  HTTPFields trailerFields() const;

 private:
  bool hasRequestPseudo() const;
  bool hasAnyPseudo() const { return hasRequestPseudo() || status_.has_value(); }
  void checkFieldConsistency() const;

  // The pseudo-header fields seen so far; only their stored values are used.
  std::optional<HTTPField> method_;
  std::optional<HTTPField> scheme_;
  std::optional<HTTPField> authority_;
  std::optional<HTTPField> path_;
  std::optional<HTTPField> extendedConnectProtocol_;
  std::optional<HTTPField> status_;
  HTTPFields fields_;
};

}  // namespace voduzazi::http_types::detail
