#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "storage_fakes.hpp"
#include "voduzazi/helpers/url_error.hpp"
#include "voduzazi/storage/storage_error.hpp"
#include "voduzazi/storage/storage_file_api.hpp"

namespace voduzazi::storage {
namespace {

using testing::FakeFetch;
using testing::Reply;

constexpr std::string_view uploaded = R"({"Key":"avatars/folder/a.png","Id":"id-1"})";

StorageFileApi avatars(const FakeFetch& fetch) {
  return StorageFileApi("avatars", fetch.configuration(), [] { return std::string("B"); });
}

std::string textPart(std::string_view name, std::string_view content) {
  return "Content-Disposition: form-data; name=\"" + std::string(name) + "\"\r\n\r\n" +
         std::string(content);
}

std::string filePart(std::string_view fileName, std::string_view type, std::string_view content) {
  return "Content-Disposition: form-data; name=\"\"; filename=\"" + std::string(fileName) +
         "\"\r\nContent-Type: " + std::string(type) + "\r\n\r\n" + std::string(content);
}

TEST(StorageFileApiUpload, SendsAByteExactFormToTheTidiedPathAndAnswersWithThePathAsGiven) {
  const FakeFetch fetch({{200, std::string(uploaded)}});
  const FileUploadResponse response = avatars(fetch).upload("/folder//a.png", "PNG");
  const auto sent = fetch.last();
  EXPECT_EQ(sent.request.httpMethod, "POST");
  EXPECT_EQ(sent.url(), "https://example.com/storage/v1/object/avatars/folder/a.png");
  EXPECT_EQ(sent.body, "--B\r\n" + textPart("cacheControl", "3600") + "\r\n--B\r\n" +
                           filePart("a.png", "image/png", "PNG") + "\r\n--B--\r\n");
  EXPECT_EQ(sent.header("Content-Type"), "multipart/form-data; boundary=B");
  EXPECT_EQ(sent.header("Cache-Control"), "max-age=3600");
  EXPECT_EQ(sent.header("x-upsert"), "false");
  EXPECT_EQ(sent.header("duplex"), std::nullopt);
  EXPECT_EQ(response.id, "id-1");
  EXPECT_EQ(response.path, "/folder//a.png");
  EXPECT_EQ(response.fullPath, "avatars/folder/a.png");
  EXPECT_EQ(avatars(fetch).uploadFullPath("/folder//a.png", "PNG"), response.fullPath);
}

TEST(StorageFileApiUpload, WithoutOptionsTheFileTypeComesFromTheExtension) {
  const FakeFetch fetch({{200, std::string(uploaded)}});
  avatars(fetch).upload("a.json", "{}");
  EXPECT_NE(fetch.last().body.find("Content-Type: application/json\r\n"), std::string::npos);
  avatars(fetch).upload("notes", "x");
  EXPECT_NE(fetch.last().body.find("Content-Type: application/octet-stream\r\n"),
            std::string::npos);
  avatars(fetch).uploadToSignedURL("a.png", "t", Data("x"));
  EXPECT_NE(fetch.last().body.find("Content-Type: image/png\r\n"), std::string::npos);
  FileOptions typed;
  typed.contentType = "text/plain;charset=UTF-8";
  avatars(fetch).upload("a.png", "x", typed);
  EXPECT_NE(fetch.last().body.find("Content-Type: text/plain;charset=UTF-8\r\n"),
            std::string::npos);
}

TEST(StorageFileApiUpload, CallerHeadersWinExceptOverTheFormsOwnContentType) {
  const FakeFetch fetch({{200, std::string(uploaded)}});
  FileOptions options;
  options.upsert = true;
  options.headers = HeaderDictionary{{"Content-Type", "image/png"},
                                     {"Cache-Control", "no-store"},
                                     {"duplex", "half"},
                                     {"x-upsert", "false"},
                                     {"X-Trace", "t1"}};
  avatars(fetch).upload("a.png", "x", options);
  const auto sent = fetch.last();
  EXPECT_EQ(sent.header("Content-Type"), "multipart/form-data; boundary=B");
  EXPECT_EQ(sent.header("Cache-Control"), "no-store");
  EXPECT_EQ(sent.header("duplex"), std::nullopt);
  EXPECT_EQ(sent.header("x-upsert"), "true");
  EXPECT_EQ(sent.header("X-Trace"), "t1");

  options.duplex = "half";
  options.metadata = JSONObject{};
  avatars(fetch).update("a.png", "x", options);
  const auto updated = fetch.last();
  EXPECT_EQ(updated.request.httpMethod, "PUT");
  EXPECT_EQ(updated.header("duplex"), "half");
  EXPECT_EQ(updated.header("x-upsert"), "false");  // only the caller's own header
  EXPECT_EQ(updated.body, "--B\r\n" + textPart("cacheControl", "3600") + "\r\n--B\r\n" +
                              textPart("metadata", "{}") + "\r\n--B\r\n" +
                              filePart("a.png", "image/png", "x") + "\r\n--B--\r\n");
}

TEST(StorageFileApiUpload, AnUpdateWithUpsertSendsNoUpsertField) {
  const FakeFetch fetch({{200, std::string(uploaded)}});
  FileOptions options;
  options.upsert = true;
  avatars(fetch).update("a.png", "x", options);
  EXPECT_EQ(fetch.last().header("x-upsert"), std::nullopt);
}

TEST(StorageFileApiUpload, AFileUploadStreamsFromDiskAndIsTypedByItsOwnName) {
  const std::filesystem::path file =
      std::filesystem::temp_directory_path() / ("upload-" + std::to_string(::getpid()) + ".gif");
  std::ofstream(file, std::ios::binary) << "GIF89a";
  const FakeFetch fetch({{200, std::string(uploaded)}});
  FileOptions options;
  options.contentType = "text/plain";
  avatars(fetch).upload("x/y.png", boost::urls::url("file://" + file.string()), options);
  std::filesystem::remove(file);
  const auto sent = fetch.last();
  EXPECT_TRUE(sent.request.httpBodyStream);
  EXPECT_NE(sent.body.find(filePart(file.filename().string(), "image/gif", "GIF89a")),
            std::string::npos)
      << sent.body;

  const FakeFetch unsent;
  EXPECT_THROW(avatars(unsent).upload("a.png", boost::urls::url("file:///no/such/file.png")),
               MultipartFormDataError);
  EXPECT_EQ(unsent.count(), 0u);
}

TEST(StorageFileApiUpload, SignedUploadsSendThePathUnchangedWithTheTokenAndUpsert) {
  const FakeFetch fetch({{200, R"({"Key":"avatars/stored"})"}});
  const SignedURLUploadResponse response =
      avatars(fetch).uploadToSignedURL("/folder//a.png", "tok en", Data("x"));
  const auto sent = fetch.last();
  EXPECT_EQ(sent.request.httpMethod, "PUT");
  EXPECT_EQ(
      sent.url(),
      "https://example.com/storage/v1/object/upload/sign/avatars//folder//a.png?token=tok%20en");
  EXPECT_EQ(sent.header("x-upsert"), "false");
  EXPECT_EQ(sent.header("Cache-Control"), "max-age=3600");
  EXPECT_EQ(response.path, "/folder//a.png");
  EXPECT_EQ(response.fullPath, "avatars/stored");
  EXPECT_EQ(avatars(fetch).uploadToSignedURLFullPath("a.png", "t", "x"), "avatars/stored");
}

TEST(StorageFileApiUpload, SignedUploadURLsCarryTheirTokenAndUpsertOnlyWhenAsked) {
  const FakeFetch fetch({{200, R"({"url":"/object/upload/sign/avatars/a.png?token=abc"})"}});
  const SignedUploadURL signedURL = avatars(fetch).createSignedUploadURL("a.png");
  EXPECT_EQ(fetch.last().request.httpMethod, "POST");
  EXPECT_EQ(fetch.last().url(), "https://example.com/storage/v1/object/upload/sign/avatars/a.png");
  EXPECT_EQ(fetch.last().header("x-upsert"), std::nullopt);
  EXPECT_EQ(signedURL.signedURL.buffer(),
            "https://example.com/storage/v1/object/upload/sign/avatars/a.png?token=abc");
  EXPECT_EQ(signedURL.token, "abc");
  EXPECT_EQ(signedURL.path, "a.png");
  avatars(fetch).createSignedUploadURL("a.png", CreateSignedUploadURLOptions{.upsert = false});
  EXPECT_EQ(fetch.last().header("x-upsert"), std::nullopt);
  avatars(fetch).createSignedUploadURL("a.png", CreateSignedUploadURLOptions{.upsert = true});
  EXPECT_EQ(fetch.last().header("x-upsert"), "true");

  for (const char* answer :
       {R"({"url":"/object/upload/sign/a?other=1"})", R"({"url":"/object/upload/sign/a?token"})"}) {
    try {
      avatars(FakeFetch({{200, answer}})).createSignedUploadURL("a");
      ADD_FAILURE() << answer;
    } catch (const StorageError& error) {
      EXPECT_EQ(error.message(), "No token returned by API");
      EXPECT_EQ(error.statusCode(), std::nullopt);
    }
  }
}

TEST(StorageFileApiUpload, SignedPathsJoinTheStorageURLWithTheirQueryAndDownload) {
  const StorageFileApi api = avatars(FakeFetch());
  EXPECT_EQ(api.makeSignedURL("object/upload/sign/b/p?token=t", std::nullopt).buffer(),
            "https://example.com/storage/v1/object/upload/sign/b/p?token=t");
  EXPECT_EQ(api.makeSignedURL("/object/sign/b/p?token=t", "").buffer(),
            "https://example.com/storage/v1/object/sign/b/p?token=t&download=");
  EXPECT_EQ(api.makeSignedURL("/object/sign/b/p", "a b+c&d.png").buffer(),
            "https://example.com/storage/v1/object/sign/b/p?download=a%20b%2Bc%26d.png");
  EXPECT_THROW(api.makeSignedURL("http://[bad", std::nullopt), URLError);
}

}  // namespace
}  // namespace voduzazi::storage
