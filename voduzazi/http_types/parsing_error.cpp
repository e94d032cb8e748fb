#include "voduzazi/http_types/parsing_error.hpp"

namespace voduzazi::http_types {

const char* ParsingError::what() const noexcept {
  switch (code_) {
    case Code::invalidName: return "Invalid HTTP field name";
    case Code::invalidPseudoName: return "Unknown HTTP pseudo header field";
    case Code::invalidPseudoValue: return "Invalid HTTP pseudo header field value";
    case Code::multiplePseudo: return "Multiple HTTP pseudo header fields of one name";
    case Code::pseudoNotFirst: return "HTTP pseudo header field after a regular field";
    case Code::requestWithoutMethod: return "HTTP request without \":method\"";
    case Code::invalidMethod: return "Invalid HTTP request method";
    case Code::requestWithResponsePseudo: return "HTTP request with \":status\"";
    case Code::responseWithoutStatus: return "HTTP response without \":status\"";
    case Code::invalidStatus: return "Invalid HTTP response status";
    case Code::responseWithRequestPseudo: return "HTTP response with a request pseudo header";
    case Code::trailerFieldsWithPseudo: return "HTTP trailer fields with a pseudo header field";
    case Code::multipleContentLength: return "Multiple differing \"content-length\" fields";
    case Code::multipleContentDisposition:
      return "Multiple differing \"content-disposition\" fields";
    case Code::multipleLocation: return "Multiple differing \"location\" fields";
  }
  return "Invalid HTTP fields";
}

}  // namespace voduzazi::http_types
