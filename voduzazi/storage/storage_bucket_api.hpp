// StorageBucketApi: list, read, create, update, empty and delete the storage API's buckets.
//
//   storage.createBucket("avatars", {.isPublic = true, .fileSizeLimit = "5MB"});
//   Bucket avatars = storage.getBucket("avatars");
//   storage.emptyBucket("avatars");
//   storage.deleteBucket("avatars");
//
// Each call sends one request and blocks until its answer. Throws StorageError or HTTPError for
// an unsuccessful status, DecodingError for an answer that is not what was asked for, and what
// the transport throws. Shared objects: safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "voduzazi/storage/storage_api.hpp"
#include "voduzazi/storage/storage_models.hpp"

namespace voduzazi::storage {

// A created or updated bucket's settings, sent as given.
struct BucketOptions {
  bool isPublic = false;
  std::optional<std::string> fileSizeLimit{};  // absent: none sent
  std::optional<std::vector<std::string>> allowedMimeTypes{};
};

class StorageBucketApi : public StorageApi {
 public:
  using StorageApi::StorageApi;

  std::vector<Bucket> listBuckets() const;
  Bucket getBucket(std::string_view id) const;
  // The bucket's name is its id. The body goes out through the configured encoder.
  void createBucket(std::string_view id, const BucketOptions& options = {}) const;
  void updateBucket(std::string_view id, const BucketOptions& options) const;
  // Removes every object of the bucket.
  void emptyBucket(std::string_view id) const;
  void deleteBucket(std::string_view id) const;

 private:
  helpers::HTTPResponse send(HTTPMethod method, std::string_view path,
                             std::optional<Data> body = std::nullopt) const;
  Data bucketBody(std::string_view id, const BucketOptions& options) const;
};

}  // namespace voduzazi::storage
