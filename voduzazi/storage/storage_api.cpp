#include "voduzazi/storage/storage_api.hpp"

#include "voduzazi/helpers/http_error.hpp"
#include "voduzazi/helpers/logger_interceptor.hpp"
#include "voduzazi/helpers/version.hpp"
#include "voduzazi/storage/detail/storage_paths.hpp"
#include "voduzazi/storage/storage_error.hpp"

namespace voduzazi::storage {
namespace {

StorageClientConfiguration prepared(StorageClientConfiguration configuration) {
  // Only the exact key counts: a differently cased one is the caller's own header.
  configuration.headers.try_emplace("X-Client-Info", "storage-cpp/" + std::string(version));
  if (configuration.useNewHostname) {
    configuration.url = detail::withStorageHost(configuration.url);
  }
  return configuration;
}

std::shared_ptr<HTTPClientType> makeHTTPClient(const StorageClientConfiguration& configuration) {
  std::vector<std::shared_ptr<HTTPClientInterceptor>> interceptors;
  if (configuration.logger) {
    interceptors.push_back(std::make_shared<LoggerInterceptor>(configuration.logger));
  }
  return std::make_shared<HTTPClient>(configuration.session.fetch, std::move(interceptors));
}

}  // namespace

StorageApi::StorageApi(StorageClientConfiguration configuration)
    : configuration_(prepared(std::move(configuration))), http_(makeHTTPClient(configuration_)) {}

helpers::HTTPResponse StorageApi::execute(helpers::HTTPRequest request) const {
  request.headers = merging(makeHTTPFields(configuration_.headers), request.headers);
  helpers::HTTPResponse response = http_->send(request);
  if (response.statusCode() >= 200 && response.statusCode() <= 299) return response;
  std::optional<StorageError> error;
  try {
    error.emplace(configuration_.decoder->decode<StorageError>(response.data()));
  } catch (const DecodingError&) {
    throw HTTPError(std::move(response).data(), response.underlyingResponse());
  }
  throw *error;
}

boost::urls::url StorageApi::url(std::string_view path) const {
  return detail::appendingPath(configuration_.url, path);
}

}  // namespace voduzazi::storage
