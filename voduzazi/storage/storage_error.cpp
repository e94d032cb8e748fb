#include "voduzazi/storage/storage_error.hpp"

#include "voduzazi/helpers/keyed_coding.hpp"

namespace voduzazi::storage {

StorageError::StorageError(std::optional<std::string> statusCode, std::string message,
                           std::optional<std::string> error)
    : statusCode_(std::move(statusCode)), message_(std::move(message)), error_(std::move(error)) {}

StorageError StorageError::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                                    const CodingPath& path) {
  KeyedDecoder in(json, decoder, path);
  auto statusCode = in.decodeIfPresent<std::string>("statusCode");
  auto message = in.decode<std::string>("message");
  return StorageError(std::move(statusCode), std::move(message),
                      in.decodeIfPresent<std::string>("error"));
}

}  // namespace voduzazi::storage
