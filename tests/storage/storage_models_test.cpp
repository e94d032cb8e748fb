#include "voduzazi/storage/storage_models.hpp"

#include <gtest/gtest.h>

#include <unordered_set>

#include "voduzazi/storage/storage_client_configuration.hpp"
#include "voduzazi/storage/storage_options.hpp"

namespace voduzazi::storage {
namespace {

template <class T>
T decode(std::string_view json) {
  return defaultStorageDecoder()->decode<T>(json);
}

std::string bucket(std::string_view extra = "",
                   std::string_view createdAt = "2026-01-02T03:04:05.678Z") {
  return R"({"id":"b","name":"b","owner":"o","public":false,"created_at":")" +
         std::string(createdAt) + R"(","updated_at":"2026-01-02T03:04:05Z")" + std::string(extra) +
         "}";
}

TEST(StorageModels, BucketsNeedEveryRequiredKeyAsWritten) {
  const Bucket decoded = decode<Bucket>(bucket(R"(,"file_size_limit":null)"));
  EXPECT_EQ(decoded.fileSizeLimit, std::nullopt);
  EXPECT_EQ(decoded.allowedMimeTypes, std::nullopt);
  EXPECT_EQ(decode<Bucket>(bucket("", "2026-01-02T03:04:05.678Z")).createdAt -
                decode<Bucket>(bucket("", "2026-01-02T03:04:05Z")).createdAt,
            std::chrono::milliseconds(678));
  EXPECT_THROW(decode<Bucket>(R"({"id":"b","name":"b","owner":"o","isPublic":true,)"
                              R"("created_at":"2026-01-02T03:04:05Z",)"
                              R"("updated_at":"2026-01-02T03:04:05Z"})"),
               DecodingError);
  try {
    decode<Bucket>(bucket("", "2026-01-02"));
    ADD_FAILURE() << "a bare date was accepted";
  } catch (const DecodingError& error) {
    EXPECT_NE(std::string(error.what()).find("Invalid date format: 2026-01-02"), std::string::npos)
        << error.what();
  }
}

TEST(StorageModels, FileObjectsNeedOnlyANameAndOneNestedBucket) {
  const FileObject entry = decode<FileObject>(
      R"({"name":"a.png","id":null,"bucket_id":null,"metadata":null,"bucketId":"ignored"})");
  EXPECT_EQ(entry, FileObject{.name = "a.png"});
  EXPECT_THROW(decode<FileObject>(R"({"name":"a","buckets":[]})"), DecodingError);
  EXPECT_THROW(decode<FileObject>(R"({"name":"a","id":"not-a-uuid"})"), DecodingError);
  const FileObject nested = decode<FileObject>(
      R"({"name":"a","id":"0b9e4f2c-1f0e-4c8e-9a57-0123456789ab","metadata":{"size":3},)"
      R"("buckets":)" +
      bucket() + "}");
  ASSERT_TRUE(nested.buckets);
  EXPECT_EQ(nested.buckets->id, "b");
  EXPECT_EQ(nested.metadata->at("size"), AnyJSON(3));
  FileObject later = nested;
  later.lastAccessedAt = Date{};
  EXPECT_NE(later, nested);

  const Data encoded =
      JSONEncoder().encode(FileObject{.name = "a", .bucketId = "b", .lastAccessedAt = Date{}});
  EXPECT_EQ(encoded, R"({"name":"a","bucket_id":"b","last_accessed_at":-978307200.0})");
}

// Equal records hash equally, so a hashed set keeps one of them; a different one stays apart.
template <class T>
void expectHashAgreesWithEquality(const T& record, const T& different) {
  const T copy = record;
  EXPECT_EQ(std::hash<T>()(copy), std::hash<T>()(record));
  EXPECT_EQ((std::unordered_set<T>{record, copy, different}.size()), 2u);
}

TEST(StorageModels, RecordsHashConsistentlyWithEquality) {
  const Bucket plain = decode<Bucket>(bucket(R"(,"allowed_mime_types":["image/png"])"));
  Bucket limited = plain;
  limited.fileSizeLimit = 0;  // present, unlike absent
  expectHashAgreesWithEquality(plain, limited);

  const FileObject nested = decode<FileObject>(
      R"({"name":"a","id":"0b9e4f2c-1f0e-4c8e-9a57-0123456789ab","metadata":{"size":3},)"
      R"("buckets":)" +
      bucket() + "}");
  FileObject later = nested;
  later.lastAccessedAt = Date{};
  expectHashAgreesWithEquality(nested, later);
  FileObject otherBucket = nested;
  otherBucket.buckets->isPublic = true;
  expectHashAgreesWithEquality(nested, otherBucket);

  const FileObjectV2 info =
      decode<FileObjectV2>(R"({"id":"i","version":"v","name":"n","metadata":{"k":[1,"x"]}})");
  const FileObjectV2 sized =
      decode<FileObjectV2>(R"({"id":"i","version":"v","name":"n","size":0})");
  expectHashAgreesWithEquality(info, sized);
}

TEST(StorageModels, ObjectDetailsAndSignedURLsDecodeByTheirOwnRules) {
  EXPECT_THROW(decode<FileObjectV2>(R"({"id":"i","name":"n"})"), DecodingError);
  const FileObjectV2 info = decode<FileObjectV2>(
      R"({"id":"i","version":"v","name":"n","last_modified":"2026-01-02T03:04:05Z"})");
  EXPECT_TRUE(info.lastModified);
  const SignedURL signedURL =
      decode<SignedURL>(R"({"error":null,"signedURL":"https://x/y?token=t","path":"y"})");
  EXPECT_EQ(signedURL.error, std::nullopt);
  EXPECT_EQ(signedURL.signedURL.buffer(), "https://x/y?token=t");
}

TEST(StorageOptions, TransformsRenderPresentFieldsInAFixedOrder) {
  EXPECT_TRUE(TransformOptions{}.queryItems().empty());
  EXPECT_EQ(JSONEncoder().encode(TransformOptions{}), "{}");
  TransformOptions transform;
  transform.format = "png";
  transform.height = 0;
  transform.quality = -1;
  const auto items = transform.queryItems();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[0].name, "height");
  EXPECT_EQ(items[0].value, "0");
  EXPECT_EQ(items[1].name, "quality");
  EXPECT_EQ(items[1].value, "-1");
  EXPECT_EQ(items[2].name, "format");
}

TEST(StorageOptions, SearchOptionsAlwaysWriteThePrefixAndSortByInCamelCase) {
  EXPECT_EQ(JSONEncoder().encode(SearchOptions{}), R"({"prefix":""})");
  EXPECT_EQ(JSONEncoder().encode(SearchOptions{.sortBy = SortBy{.order = "desc"}}),
            R"({"prefix":"","sortBy":{"order":"desc"}})");
  EXPECT_EQ(defaultFileOptions().cacheControl, "3600");
  EXPECT_EQ(defaultFileOptions().contentType, std::nullopt);
  EXPECT_FALSE(defaultFileOptions().upsert);
}

}  // namespace
}  // namespace voduzazi::storage
