// The error thrown when a coded (JSON) form of a message-model value cannot be decoded.
//
//   try {
//     auto fields = HTTPFields::fromJSON(boost::json::parse(text));
//   } catch (const DecodingError& error) {
//     log(error.what(), error.codingPath());  // what() is the failure's message
//   }
#pragma once

#include <exception>
#include <string>
#include <vector>

namespace voduzazi::http_types {

// Where a value sits in a coded document: object keys, and "Index N" for array elements.
using CodingPath = std::vector<std::string>;

class DecodingError : public std::exception {
 public:
  enum class Kind {
    typeMismatch,   // the JSON value has another type than the one expected
    keyNotFound,    // a required key is missing
    valueNotFound,  // a required value is null
    dataCorrupted,  // the value has the right type but is not acceptable
  };

  DecodingError(Kind kind, CodingPath codingPath, std::string debugDescription);

  Kind kind() const noexcept { return kind_; }
  const CodingPath& codingPath() const noexcept { return codingPath_; }
  const std::string& debugDescription() const noexcept { return debugDescription_; }

  // The debug description.
  const char* what() const noexcept override { return debugDescription_.c_str(); }

 private:
  Kind kind_;
  CodingPath codingPath_;
  std::string debugDescription_;
};

}  // namespace voduzazi::http_types
