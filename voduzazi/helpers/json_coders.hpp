// JSONEncoder and JSONDecoder: the library's JSON coders. Records convert to and from
// boost::json::value (members toJSON()/fromJSON() or Boost.JSON tag_invoke conversions); the
// coders add key conversion and write the text: no "/" escaping, whole doubles as "2.0".
//
//   auto encoder = makeVoduzaziEncoder();
//   encoder->keyEncodingStrategy = KeyEncodingStrategy::convertToSnakeCase;
//   Data body = encoder->encode(credentials);          // {"refresh_token":"..."}
//   auto decoder = makeVoduzaziDecoder();
//   Session session = decoder->decode<Session>(response.data());   // throws DecodingError
//
// Records that code their own keys (toJSON(const JSONEncoder&) and
// fromJSON(json, const JSONDecoder&), see keyed_coding.hpp) apply the key and date strategies to
// their declared keys only; free-form objects inside them keep their keys as they are.
#pragma once

#include <boost/json/value.hpp>
#include <boost/json/value_from.hpp>
#include <boost/json/value_to.hpp>
#include <boost/system/system_error.hpp>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "voduzazi/helpers/data.hpp"
#include "voduzazi/helpers/sdk_date.hpp"
#include "voduzazi/http_types/decoding_error.hpp"

namespace voduzazi {

using http_types::CodingPath;
using http_types::DecodingError;

// Thrown when a value cannot be written as JSON (a NaN or infinite double).
class EncodingError : public std::exception {
 public:
  EncodingError(CodingPath codingPath, std::string debugDescription)
      : codingPath_(std::move(codingPath)), debugDescription_(std::move(debugDescription)) {}
  const CodingPath& codingPath() const noexcept { return codingPath_; }
  const std::string& debugDescription() const noexcept { return debugDescription_; }
  const char* what() const noexcept override { return debugDescription_.c_str(); }

 private:
  CodingPath codingPath_;
  std::string debugDescription_;
};

enum class KeyEncodingStrategy { useDefaultKeys, convertToSnakeCase };
enum class KeyDecodingStrategy { useDefaultKeys, convertFromSnakeCase };
// How records that code their own keys write and read dates: seconds since
// 2001-01-01T00:00:00Z as a JSON number (a plain coder), or the library's ISO 8601 text.
enum class DateCodingStrategy { secondsSinceReferenceDate, sdkDate };

struct OutputFormatting {
  bool prettyPrinted = false;  // two-space indentation, one member per line
  bool sortedKeys = false;     // otherwise keys keep the order in which they were added
};

// Settings may be changed before the encoder is shared; encoding itself only reads them.
// Shared objects: safe to encode from any thread while nobody changes the settings.
class JSONEncoder {
 public:
  KeyEncodingStrategy keyEncodingStrategy = KeyEncodingStrategy::useDefaultKeys;
  DateCodingStrategy dateEncodingStrategy = DateCodingStrategy::secondsSinceReferenceDate;
  OutputFormatting outputFormatting;

  // The value's JSON text; throws EncodingError for values JSON cannot hold.
  template <class T>
  Data encode(const T& value) const {
    return write(encodeToJSON(value));
  }

  // The value's JSON tree with the key strategy applied.
  template <class T>
  boost::json::value encodeToJSON(const T& value) const;

  // Writes a JSON tree as text with this encoder's formatting (the key strategy is not applied).
  Data write(const boost::json::value& json) const;

  // A record's coding key as this encoder writes it.
  std::string codingKey(std::string_view key) const;
  // A date in this encoder's date form.
  boost::json::value encodeDate(Date date) const;

 private:
  boost::json::value convertKeys(boost::json::value json) const;
};

// Shared objects: safe to decode from any thread while nobody changes the settings.
class JSONDecoder {
 public:
  KeyDecodingStrategy keyDecodingStrategy = KeyDecodingStrategy::useDefaultKeys;
  DateCodingStrategy dateDecodingStrategy = DateCodingStrategy::secondsSinceReferenceDate;

  // Parses `data` and decodes T from it. Throws DecodingError: dataCorrupted ("The given data was
  // not valid JSON.") for text that is not JSON, or what T's decoding throws.
  template <class T>
  T decode(std::string_view data) const {
    return decodeJSON<T>(parse(data));
  }

  // Decodes T from a JSON tree after applying the key strategy. Throws DecodingError, also for
  // the errors of Boost.JSON's own conversions.
  template <class T>
  T decodeJSON(boost::json::value json) const;

  // Parses JSON text (no comments, no trailing commas, valid UTF-8); throws DecodingError.
  static boost::json::value parse(std::string_view data);

  // An incoming key as this decoder matches it against a record's coding keys.
  std::string codingKey(std::string_view key) const;
  // A date in this decoder's date form; throws DecodingError.
  Date decodeDate(const boost::json::value& json, const CodingPath& codingPath = {}) const;

 private:
  boost::json::value convertKeys(boost::json::value json) const;
};

// New coders with the library's settings; each call returns a distinct object.
std::shared_ptr<JSONEncoder> makeVoduzaziEncoder();
std::shared_ptr<JSONDecoder> makeVoduzaziDecoder();

}  // namespace voduzazi

// Implementation.

namespace voduzazi {

template <class T>
boost::json::value JSONEncoder::encodeToJSON(const T& value) const {
  boost::json::value json;
  if constexpr (requires {
                  { value.toJSON(*this) } -> std::convertible_to<boost::json::value>;
                }) {
    return value.toJSON(*this);  // the record applied the strategies to its own keys
  } else if constexpr (requires {
                         { value.toJSON() } -> std::convertible_to<boost::json::value>;
                       }) {
    json = value.toJSON();
  } else {
    json = boost::json::value_from(value);
  }
  if (keyEncodingStrategy == KeyEncodingStrategy::useDefaultKeys) return json;
  return convertKeys(std::move(json));
}

template <class T>
T JSONDecoder::decodeJSON(boost::json::value json) const {
  if constexpr (requires {
                  { T::fromJSON(json, *this) } -> std::convertible_to<T>;
                }) {
    return T::fromJSON(json, *this);  // the record matches its own keys
  } else {
    if (keyDecodingStrategy != KeyDecodingStrategy::useDefaultKeys) {
      json = convertKeys(std::move(json));
    }
    if constexpr (requires {
                    { T::fromJSON(json) } -> std::convertible_to<T>;
                  }) {
      return T::fromJSON(json);
    } else {
      // Boost.JSON reports a value of the wrong shape as system_error; callers see one error type.
      try {
        return boost::json::value_to<T>(json);
      } catch (const boost::system::system_error& error) {
        throw DecodingError(DecodingError::Kind::typeMismatch, {}, error.code().message());
      }
    }
  }
}

}  // namespace voduzazi
