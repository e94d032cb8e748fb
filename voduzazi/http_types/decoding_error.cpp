#include "voduzazi/http_types/decoding_error.hpp"

#include <utility>

namespace voduzazi::http_types {

DecodingError::DecodingError(Kind kind, CodingPath codingPath, std::string debugDescription)
    : kind_(kind),
      codingPath_(std::move(codingPath)),
      debugDescription_(std::move(debugDescription)) {}

}  // namespace voduzazi::http_types
