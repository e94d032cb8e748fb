#include "voduzazi/storage/storage_client_configuration.hpp"

namespace voduzazi::storage {

const std::shared_ptr<const JSONEncoder>& defaultStorageEncoder() {
  static const std::shared_ptr<const JSONEncoder> encoder = [] {
    auto made = std::make_shared<JSONEncoder>();
    made->keyEncodingStrategy = KeyEncodingStrategy::convertToSnakeCase;
    return made;
  }();
  return encoder;
}

const std::shared_ptr<const JSONDecoder>& defaultStorageDecoder() {
  static const std::shared_ptr<const JSONDecoder> decoder = makeVoduzaziDecoder();
  return decoder;
}

const std::shared_ptr<const JSONEncoder>& plainStorageEncoder() {
  static const std::shared_ptr<const JSONEncoder> encoder = std::make_shared<JSONEncoder>();
  return encoder;
}

StorageHTTPSession::StorageHTTPSession(URLSession& session)
    : fetch([&session](const URLRequest& request) { return session.data(request); }),
      upload([&session](const URLRequest& request, const Data& body) {
        return session.upload(request, body);
      }) {}

}  // namespace voduzazi::storage
