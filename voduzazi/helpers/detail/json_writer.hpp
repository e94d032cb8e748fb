// The one JSON text writer of the library: keys in insertion or sorted order, optional pretty
// printing, "/" never escaped, whole doubles with a fraction part ("2.0").
#pragma once

#include <boost/json/value.hpp>
#include <string>

namespace voduzazi::detail {

struct JSONWriteOptions {
  bool prettyPrinted = false;
  bool sortedKeys = false;
};

// Throws voduzazi::EncodingError for a NaN or infinite double.
std::string writeJSON(const boost::json::value& json, JSONWriteOptions options = {});

// The shortest text that reads back as `value`, with ".0" added to whole numbers.
std::string formatDouble(double value);

}  // namespace voduzazi::detail
