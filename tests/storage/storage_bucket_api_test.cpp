#include "voduzazi/storage/storage_bucket_api.hpp"

#include <gtest/gtest.h>

#include "storage_fakes.hpp"
#include "voduzazi/storage/storage_error.hpp"

namespace voduzazi::storage {
namespace {

using testing::FakeFetch;

constexpr std::string_view bucketJSON =
    R"({"id":"avatars","name":"avatars","owner":"","public":true,)"
    R"("created_at":"2026-01-02T03:04:05.678Z","updated_at":"2026-01-02T03:04:05Z",)"
    R"("file_size_limit":1024,"allowed_mime_types":["image/png"]})";

TEST(StorageBucketApi, CreateAndUpdateSendTheBucketBodyInSnakeCaseWithoutAbsentOptions) {
  const FakeFetch fetch;
  const StorageBucketApi api(fetch.configuration());
  api.createBucket("avatars", {.isPublic = true});
  EXPECT_EQ(fetch.last().request.httpMethod, "POST");
  EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/bucket");
  EXPECT_EQ(fetch.last().body, R"({"id":"avatars","name":"avatars","public":true})");

  api.updateBucket("avatars", {.isPublic = false,
                               .fileSizeLimit = "5MB",
                               .allowedMimeTypes = std::vector<std::string>{"image/png", "a/b"}});
  EXPECT_EQ(fetch.last().request.httpMethod, "PUT");
  EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/bucket/avatars");
  EXPECT_EQ(fetch.last().body,
            R"({"id":"avatars","name":"avatars","public":false,"file_size_limit":"5MB",)"
            R"("allowed_mime_types":["image/png","a/b"]})");
}

TEST(StorageBucketApi, EmptyAndDeleteSendNoBodyAndIgnoreTheAnswer) {
  const FakeFetch fetch({{204, "not json at all"}});
  const StorageBucketApi api(fetch.configuration());
  api.emptyBucket("avatars");
  EXPECT_EQ(fetch.last().request.httpMethod, "POST");
  EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/bucket/avatars/empty");
  EXPECT_FALSE(fetch.last().request.httpBody);
  api.deleteBucket("avatars");
  EXPECT_EQ(fetch.last().request.httpMethod, "DELETE");
  EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/bucket/avatars");
  EXPECT_FALSE(fetch.last().request.httpBody);
}

TEST(StorageBucketApi, ListAndGetDecodeBucketsAndFailOnOtherShapes) {
  EXPECT_TRUE(StorageBucketApi(FakeFetch({{200, "[]"}}).configuration()).listBuckets().empty());
  const FakeFetch one({{200, "[" + std::string(bucketJSON) + "]"}});
  const auto buckets = StorageBucketApi(one.configuration()).listBuckets();
  ASSERT_EQ(buckets.size(), 1u);
  EXPECT_TRUE(buckets[0].isPublic);
  EXPECT_EQ(buckets[0].fileSizeLimit, 1024);
  EXPECT_EQ(one.last().request.httpMethod, "GET");
  EXPECT_THROW(
      StorageBucketApi(FakeFetch({{200, std::string(bucketJSON)}}).configuration()).listBuckets(),
      DecodingError);

  const FakeFetch missing({{404, R"({"statusCode":"404","error":"not_found","message":"nope"})"}});
  try {
    StorageBucketApi(missing.configuration()).getBucket("gone");
    ADD_FAILURE() << "no error";
  } catch (const StorageError& error) {
    EXPECT_EQ(error.statusCode(), "404");
    EXPECT_EQ(error.message(), "nope");
  }
  EXPECT_EQ(missing.last().url(), "https://example.com/storage/v1/bucket/gone");
}

}  // namespace
}  // namespace voduzazi::storage
