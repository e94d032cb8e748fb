#include <gtest/gtest.h>

#include "storage_fakes.hpp"
#include "voduzazi/helpers/http_error.hpp"
#include "voduzazi/helpers/url_error.hpp"
#include "voduzazi/storage/storage_error.hpp"
#include "voduzazi/storage/storage_file_api.hpp"

namespace voduzazi::storage {
namespace {

using testing::FakeFetch;
using testing::Reply;

StorageFileApi avatars(const FakeFetch& fetch) {
  return StorageFileApi("avatars", fetch.configuration());
}

TEST(StorageFileApiObjects, MoveAndCopySendKeysAsWrittenWithANullDestination) {
  const FakeFetch fetch({{200, R"({"Key":"other/b.png"})"}});
  avatars(fetch).move("a.png", "b.png");
  EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/object/move");
  EXPECT_EQ(fetch.last().request.httpMethod, "POST");
  EXPECT_EQ(fetch.last().body,
            R"({"bucketId":"avatars","sourceKey":"a.png","destinationKey":"b.png",)"
            R"("destinationBucket":null})");
  const std::string key =
      avatars(fetch).copy("a.png", "b.png", DestinationOptions{.destinationBucket = "other"});
  EXPECT_EQ(key, "other/b.png");
  EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/object/copy");
  EXPECT_NE(fetch.last().body.find(R"("destinationBucket":"other")"), std::string::npos);
  EXPECT_THROW(avatars(FakeFetch({{200, "{}"}})).copy("a", "b"), DecodingError);
}

TEST(StorageFileApiObjects, SignedURLsSendCamelCaseBodiesAndEndWithTheDownloadItem) {
  const FakeFetch fetch({{200, R"({"signedURL":"/object/sign/avatars/a.png?token=t"})"}});
  const boost::urls::url url = avatars(fetch).createSignedURL("a.png", 60, true);
  EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/object/sign/avatars/a.png");
  EXPECT_EQ(fetch.last().body, R"({"expiresIn":60})");
  EXPECT_EQ(url.buffer(),
            "https://example.com/storage/v1/object/sign/avatars/a.png?token=t&download=");
  EXPECT_EQ(avatars(fetch).createSignedURL("a.png", 60, false).buffer(),
            "https://example.com/storage/v1/object/sign/avatars/a.png?token=t");
  avatars(fetch).createSignedURL("a.png", 60, std::nullopt, TransformOptions{.width = 10});
  EXPECT_EQ(fetch.last().body, R"({"expiresIn":60,"transform":{"width":10}})");

  const FakeFetch many({{200, R"([{"signedURL":"/x?token=1"},{"signedURL":"/y?token=2"}])"}});
  const auto urls = avatars(many).createSignedURLs({"x", "y"}, 30, "");
  EXPECT_EQ(many.last().url(), "https://example.com/storage/v1/object/sign/avatars");
  EXPECT_EQ(many.last().body, R"({"expiresIn":30,"paths":["x","y"]})");
  ASSERT_EQ(urls.size(), 2u);
  EXPECT_EQ(urls[1].buffer(), "https://example.com/storage/v1/y?token=2&download=");
  EXPECT_THROW(avatars(FakeFetch({{200, R"([{"signedURL":"/x"},{"error":"no"}])"}}))
                   .createSignedURLs({"x", "y"}, 30),
               DecodingError);
}

TEST(StorageFileApiObjects, RemoveAndListSendTheirBodiesAndDecodeEntries) {
  const FakeFetch fetch({{200, R"([{"name":"a.png","id":null}])"}});
  const auto removed = avatars(fetch).remove({});
  EXPECT_EQ(fetch.last().request.httpMethod, "DELETE");
  EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/object/avatars");
  EXPECT_EQ(fetch.last().body, R"({"prefixes":[]})");
  ASSERT_EQ(removed.size(), 1u);
  EXPECT_EQ(removed[0].name, "a.png");

  avatars(fetch).list();
  EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/object/list/avatars");
  EXPECT_EQ(fetch.last().body,
            R"({"prefix":"","limit":100,"offset":0,"sortBy":{"column":"name","order":"asc"}})");
  SearchOptions options{.prefix = "ignored", .limit = 5, .search = "cat"};
  avatars(fetch).list("users/7", options);
  EXPECT_EQ(fetch.last().body, R"({"prefix":"users/7","limit":5,"search":"cat"})");
  EXPECT_THROW(avatars(FakeFetch({{200, R"([{"id":"x"}])"}})).list(), DecodingError);
}

TEST(StorageFileApiObjects, DownloadsObjectsOrRenderedImagesAsReceived) {
  const FakeFetch fetch({{200, std::string("\0bytes", 6)}});
  EXPECT_EQ(avatars(fetch).download("a b/c.png"), std::string("\0bytes", 6));
  EXPECT_EQ(fetch.last().request.httpMethod, "GET");
  EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/object/avatars/a%20b/c.png");
  avatars(fetch).download("c.png", TransformOptions{});
  EXPECT_EQ(fetch.last().url(),
            "https://example.com/storage/v1/render/image/authenticated/avatars/c.png");
  TransformOptions transform;
  transform.format = "webp";
  transform.height = 5;
  avatars(fetch).download("c.png", transform);
  EXPECT_EQ(fetch.last().url(),
            "https://example.com/storage/v1/render/image/authenticated/avatars/c.png"
            "?height=5&format=webp");
  // Object names are sent as given, dot segments included.
  avatars(fetch).download("../b/x");
  EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/object/avatars/../b/x");
}

TEST(StorageFileApiObjects, InfoDecodesTheObjectDetails) {
  const FakeFetch fetch({{200, R"({"id":"i","version":"v","name":"a.png","size":3})"}});
  const FileObjectV2 info = avatars(fetch).info("a.png");
  EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/object/info/avatars/a.png");
  EXPECT_EQ(info.size, 3);
}

TEST(StorageFileApiObjects, ExistsIsFalseForA404OrA400AndThrowsOtherwise) {
  const auto exists = [](Reply reply) {
    const FakeFetch fetch({reply});
    const bool answer = avatars(fetch).exists("a.png");
    EXPECT_EQ(fetch.last().request.httpMethod, "HEAD");
    EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/object/avatars/a.png");
    return answer;
  };
  EXPECT_TRUE(exists({200, ""}));
  EXPECT_FALSE(exists({404, ""}));
  EXPECT_FALSE(exists({400, R"({"statusCode":"404","message":"Object not found"})"}));
  EXPECT_FALSE(exists({400, R"({"statusCode":"+404","message":"m"})"}));
  EXPECT_FALSE(exists({400, R"({"statusCode":"400","error":"not_found","message":"m"})"}));
  // A HEAD answer carries no body: a bare 400 (a name that cannot exist) is not there either.
  EXPECT_FALSE(exists({400, ""}));
  EXPECT_FALSE(exists({400, R"({"statusCode":"400","error":"InvalidKey","message":"m"})"}));
  EXPECT_THROW(exists({403, R"({"statusCode":"403","message":"denied"})"}), StorageError);
  EXPECT_THROW(exists({403, ""}), HTTPError);
  EXPECT_THROW(exists({500, ""}), HTTPError);
  EXPECT_THROW(exists({400, R"({"statusCode":"4o4","message":"m"})"}), StorageError);
  EXPECT_THROW(exists({400, R"({"message":"m"})"}), StorageError);
}

TEST(StorageFileApiObjects, PublicURLsPutDownloadBeforeTheTransform) {
  const StorageFileApi api = avatars(FakeFetch());
  EXPECT_EQ(api.getPublicURL("a b.png").buffer(),
            "https://example.com/storage/v1/object/public/avatars/a%20b.png");
  EXPECT_EQ(api.getPublicURL("a.png", "me.png", TransformOptions{.width = 100}).buffer(),
            "https://example.com/storage/v1/render/image/public/avatars/a.png"
            "?download=me.png&width=100");
  EXPECT_EQ(api.getPublicURL("a.png", true).buffer(),
            "https://example.com/storage/v1/object/public/avatars/a.png?download=");
}

}  // namespace
}  // namespace voduzazi::storage
