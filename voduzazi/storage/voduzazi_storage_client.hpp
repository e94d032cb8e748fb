// VoduzaziStorageClient: the storage client. It serves the bucket operations itself and hands
// out one file API per bucket; every request goes through the configuration's fetch function.
//
//   VoduzaziStorageClient& storage = client.storage();     // the facade builds it
//   storage.createBucket("avatars", {.isPublic = true});
//   StorageFileApi avatars = storage.from("avatars");
//   avatars.upload("users/7.png", pngBytes, {.contentType = "image/png"});
//
// Shared objects: safe; nothing changes after construction.
#pragma once

#include <string>

#include "voduzazi/storage/storage_bucket_api.hpp"
#include "voduzazi/storage/storage_file_api.hpp"

namespace voduzazi::storage {

class VoduzaziStorageClient : public StorageBucketApi {
 public:
  using StorageBucketApi::StorageBucketApi;

  // A new file API for the bucket, with this client's prepared configuration and an HTTP client
  // of its own.
  StorageFileApi from(std::string bucketId) const {
    return StorageFileApi(std::move(bucketId), configuration());
  }
};

}  // namespace voduzazi::storage
