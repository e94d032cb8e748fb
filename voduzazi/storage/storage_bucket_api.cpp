#include "voduzazi/storage/storage_bucket_api.hpp"

#include "voduzazi/helpers/keyed_coding.hpp"

namespace voduzazi::storage {

helpers::HTTPResponse StorageBucketApi::send(HTTPMethod method, std::string_view path,
                                             std::optional<Data> body) const {
  return execute(helpers::HTTPRequest(url(path), std::move(method), {}, {}, std::move(body)));
}

Data StorageBucketApi::bucketBody(std::string_view id, const BucketOptions& options) const {
  const JSONEncoder& encoder = *configuration().encoder;
  KeyedEncoder body(encoder);
  body.encode("id", std::string(id));
  body.encode("name", std::string(id));
  body.encode("public", options.isPublic);
  body.encodeIfPresent("fileSizeLimit", options.fileSizeLimit);
  body.encodeIfPresent("allowedMimeTypes", options.allowedMimeTypes);
  return encoder.write(std::move(body).json());
}

std::vector<Bucket> StorageBucketApi::listBuckets() const {
  return decoded<std::vector<Bucket>>(send(HTTPMethod::get, "bucket"));
}

Bucket StorageBucketApi::getBucket(std::string_view id) const {
  return decoded<Bucket>(send(HTTPMethod::get, "bucket/" + std::string(id)));
}

void StorageBucketApi::createBucket(std::string_view id, const BucketOptions& options) const {
  send(HTTPMethod::post, "bucket", bucketBody(id, options));
}

void StorageBucketApi::updateBucket(std::string_view id, const BucketOptions& options) const {
  send(HTTPMethod::put, "bucket/" + std::string(id), bucketBody(id, options));
}

void StorageBucketApi::emptyBucket(std::string_view id) const {
  send(HTTPMethod::post, "bucket/" + std::string(id) + "/empty");
}

void StorageBucketApi::deleteBucket(std::string_view id) const {
  send(HTTPMethod::delete_, "bucket/" + std::string(id));
}

}  // namespace voduzazi::storage
