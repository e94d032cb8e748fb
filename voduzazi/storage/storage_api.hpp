// StorageApi: the base of every storage API object. It prepares the configuration (the client's
// "X-Client-Info", the storage host) and sends each request: configured headers under the
// request's own, then the status check that turns a failure into StorageError or HTTPError.
//
//   VoduzaziStorageClient storage(configuration);     // a StorageApi
//   helpers::HTTPResponse response = storage.execute(
//       helpers::HTTPRequest(detail::appendingPath(storage.configuration().url, "bucket"),
//                            HTTPMethod::get));
//
// Shared objects: safe; nothing changes after construction. Lifetime: owns its HTTP client.
#pragma once

#include <memory>
#include <string_view>

#include "voduzazi/helpers/http_client.hpp"
#include "voduzazi/helpers/http_request.hpp"
#include "voduzazi/helpers/keyed_coding.hpp"
#include "voduzazi/storage/storage_client_configuration.hpp"

namespace voduzazi::storage {

class StorageApi {
 public:
  // Adds "X-Client-Info: storage-cpp/<version>" unless the headers hold that exact key, and
  // with useNewHostname moves a hosted project's URL to its storage host. Preparing a prepared
  // configuration changes nothing. Throws std::invalid_argument for useNewHostname with a URL
  // that has no host.
  explicit StorageApi(StorageClientConfiguration configuration);
  virtual ~StorageApi() = default;

  const StorageClientConfiguration& configuration() const noexcept { return configuration_; }

  // Sends the request with the configured headers under its own (the request's value wins for a
  // name both hold) and returns the response of a 2xx status. Throws StorageError for another
  // status whose body is a storage error, HTTPError for any other body, and what the transport
  // throws.
  helpers::HTTPResponse execute(helpers::HTTPRequest request) const;

 protected:
  // The storage URL with `path` appended.
  boost::urls::url url(std::string_view path) const;
  // The body decoded as T (a record or a list of records) with the configured decoder; throws
  // DecodingError.
  template <class T>
  T decoded(const helpers::HTTPResponse& response) const {
    return decodeValue<T>(JSONDecoder::parse(response.data()), *configuration_.decoder, {});
  }

 private:
  StorageClientConfiguration configuration_;
  std::shared_ptr<HTTPClientType> http_;
};

}  // namespace voduzazi::storage
