// The storage API over HTTP: buckets, uploads (multipart and raw), downloads, listing, moving,
// copying, removing, signed and public URLs, the access rules, and the refusals of bad input.
#include <openssl/evp.h>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/json/serialize.hpp>
#include <chrono>
#include <filesystem>
#include <thread>

#include "local_backend/detail/crypto.hpp"
#include "tests/local_backend/test_client.hpp"

namespace local_backend::testing {
namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;

constexpr const char* kBoundary = "test.boundary.0123456789abcdef";

// A form as uploads send it: "cacheControl", optional "metadata", then the file part.
std::string form(const std::string& content, const std::string& contentType = "text/plain",
                 const std::string& metadata = {}) {
  const std::string b = kBoundary;
  std::string body =
      "--" + b + "\r\nContent-Disposition: form-data; name=\"cacheControl\"\r\n\r\n60";
  if (!metadata.empty()) {
    body +=
        "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"metadata\"\r\n\r\n" + metadata;
  }
  return body + "\r\n--" + b +
         "\r\nContent-Disposition: form-data; name=\"\"; filename=\"f\"\r\nContent-Type: " +
         contentType + "\r\n\r\n" + content + "\r\n--" + b + "--\r\n";
}

const Headers kFormType{
    {"Content-Type", std::string("multipart/form-data; boundary=") + kBoundary}};

std::string text(const boost::json::value& value, std::string_view key) {
  const auto* found = value.is_object() ? value.as_object().if_contains(key) : nullptr;
  return found != nullptr && found->is_string() ? std::string(found->as_string()) : "";
}

class StorageApi : public BackendTest {
 protected:
  explicit StorageApi(ServerOptions options = {}) : BackendTest(std::move(options)) {}

  HttpResult as(const std::string& bearer, http::verb method, const std::string& path,
                const std::string& body = {}, Headers extra = {}) const {
    return call(method, "/storage/v1/" + path, body, bearer, std::move(extra));
  }
  HttpResult serve(http::verb method, const std::string& path, const std::string& body = {},
                   Headers extra = {}) const {
    Headers headers{{"apikey", server_.serviceKey()},
                    {"Authorization", "Bearer " + server_.serviceKey()}};
    headers.insert(headers.end(), extra.begin(), extra.end());
    return client_.send(method, "/storage/v1/" + path, body, headers);
  }
  // Without any key or token, as a browser follows a URL.
  HttpResult bare(http::verb method, const std::string& path, const std::string& body = {},
                  Headers headers = {}) const {
    return client_.send(method, "/storage/v1" + path, body, headers);
  }

  void createBucket(const std::string& id, const std::string& options = R"("public":false)") {
    const auto result = serve(http::verb::post, "bucket",
                              R"({"id":")" + id + R"(","name":")" + id + R"(",)" + options + "}");
    ASSERT_EQ(result.status, 200) << result.body;
  }
  void put(const std::string& bucket, const std::string& path, const std::string& content,
           const std::string& type = "text/plain") {
    const auto result =
        serve(http::verb::post, "object/" + bucket + "/" + path, form(content, type), kFormType);
    ASSERT_EQ(result.status, 200) << result.body;
  }
  std::string fetch(const std::string& bucket, const std::string& path) const {
    const auto result = serve(http::verb::get, "object/" + bucket + "/" + path);
    return result.status == 200 ? result.body : "status " + std::to_string(result.status);
  }

  static void expectError(const HttpResult& result, int status, const std::string& error) {
    EXPECT_EQ(result.status, status) << result.body;
    const auto body = result.json();
    EXPECT_EQ(text(body, "statusCode"), std::to_string(status)) << result.body;
    EXPECT_EQ(text(body, "error"), error) << result.body;
    EXPECT_FALSE(text(body, "message").empty()) << result.body;
  }
};

TEST_F(StorageApi, BucketLifecycle) {
  const auto user = signUp("owner");
  auto created = as(user.accessToken, http::verb::post, "bucket",
                    R"({"id":"docs","name":"docs","public":false,"file_size_limit":"2048",)"
                    R"("allowed_mime_types":["text/plain","image/*"]})");
  ASSERT_EQ(created.status, 200) << created.body;
  EXPECT_EQ(text(created.json(), "name"), "docs");
  expectError(as(user.accessToken, http::verb::post, "bucket", R"({"id":"docs","name":"docs"})"),
              409, "Duplicate");

  auto bucket = as(user.accessToken, http::verb::get, "bucket/docs").json();
  EXPECT_EQ(text(bucket, "id"), "docs");
  EXPECT_EQ(text(bucket, "owner"), user.id);
  EXPECT_EQ(bucket.at("public"), false);
  EXPECT_EQ(bucket.at("file_size_limit"), 2048);
  EXPECT_EQ(boost::json::serialize(bucket.at("allowed_mime_types")), R"(["text/plain","image/*"])");
  EXPECT_NE(text(bucket, "created_at").find('T'), std::string::npos);

  // Others see public buckets and their own only.
  createBucket("shared", R"("public":true)");
  createBucket("hidden");
  const auto other = signUp("other");
  auto listed = as(other.accessToken, http::verb::get, "bucket").json().as_array();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(text(listed[0], "id"), "shared");
  expectError(as(other.accessToken, http::verb::get, "bucket/docs"), 404, "Bucket not found");
  expectError(as(other.accessToken, http::verb::delete_, "bucket/docs"), 404, "Bucket not found");
  EXPECT_EQ(serve(http::verb::get, "bucket").json().as_array().size(), 3u);

  auto updated = as(user.accessToken, http::verb::put, "bucket/docs",
                    R"({"id":"docs","name":"docs","public":true,"file_size_limit":null})");
  ASSERT_EQ(updated.status, 200) << updated.body;
  bucket = as(other.accessToken, http::verb::get, "bucket/docs").json();
  EXPECT_EQ(bucket.at("public"), true);
  EXPECT_TRUE(bucket.at("file_size_limit").is_null());
  EXPECT_EQ(bucket.at("allowed_mime_types").as_array().size(), 2u) << "absent keys stay";

  const auto upload =
      as(user.accessToken, http::verb::post, "object/docs/a.txt", form("x"), kFormType);
  ASSERT_EQ(upload.status, 200) << upload.body;
  expectError(as(user.accessToken, http::verb::delete_, "bucket/docs"), 409, "InvalidRequest");
  EXPECT_EQ(as(user.accessToken, http::verb::post, "bucket/docs/empty").status, 200);
  EXPECT_EQ(as(user.accessToken, http::verb::get, "object/docs/a.txt").status, 404);
  EXPECT_EQ(as(user.accessToken, http::verb::delete_, "bucket/docs").status, 200);
  expectError(as(user.accessToken, http::verb::get, "bucket/docs"), 404, "Bucket not found");
}

TEST_F(StorageApi, RefusesBucketsOutsideTheNameRulesAndBadBodies) {
  const std::vector<std::string> names{"",       "../up", ".hidden",
                                       "sp ace", "move",  std::string(101, 'n')};
  for (const auto& name : names) {
    const auto result = serve(http::verb::post, "bucket", R"({"id":")" + name + R"("})");
    expectError(result, 400, "Invalid Input");
  }
  expectError(serve(http::verb::post, "bucket", "not json"), 400, "Invalid Input");
  expectError(serve(http::verb::post, "bucket", R"({"id":"b","file_size_limit":"-1"})"), 400,
              "Invalid Input");
  expectError(serve(http::verb::post, "bucket", R"({"id":"b","allowed_mime_types":[1]})"), 400,
              "Invalid Input");
  expectError(serve(http::verb::get, "bucket/a%2Fb"), 400, "Invalid Input");
  expectError(as({}, http::verb::post, "bucket", R"({"id":"anon"})"), 401, "Unauthorized");
}

TEST_F(StorageApi, MultipartUploadDownloadInfoAndHead) {
  createBucket("files");
  const auto result =
      serve(http::verb::post, "object/files/dir/hello.txt",
            form("hello, world", "text/plain;charset=UTF-8", R"({"k":[1,2]})"), kFormType);
  ASSERT_EQ(result.status, 200) << result.body;
  EXPECT_EQ(text(result.json(), "Key"), "files/dir/hello.txt");
  const std::string id = text(result.json(), "Id");
  EXPECT_EQ(id.size(), 36u);

  const auto download = serve(http::verb::get, "object/files/dir/hello.txt");
  EXPECT_EQ(download.status, 200);
  EXPECT_EQ(download.body, "hello, world");
  EXPECT_EQ(download.header("Content-Type"), "text/plain;charset=UTF-8");
  EXPECT_EQ(download.header("Cache-Control"), "max-age=60");
  EXPECT_EQ(serve(http::verb::get, "object/authenticated/files/dir/hello.txt").body,
            "hello, world");
  EXPECT_EQ(serve(http::verb::get, "render/image/authenticated/files/dir/hello.txt?width=5").body,
            "hello, world")
      << "transforms are ignored";

  const auto info = serve(http::verb::get, "object/info/files/dir/hello.txt").json();
  EXPECT_EQ(text(info, "id"), id);
  EXPECT_EQ(text(info, "name"), "dir/hello.txt");
  EXPECT_EQ(text(info, "bucket_id"), "files");
  EXPECT_EQ(info.at("size"), 12);
  EXPECT_EQ(text(info, "content_type"), "text/plain;charset=UTF-8");
  EXPECT_FALSE(text(info, "version").empty());
  EXPECT_EQ(boost::json::serialize(info.at("metadata")), R"({"k":[1,2]})");

  const auto head = serve(http::verb::head, "object/files/dir/hello.txt");
  EXPECT_EQ(head.status, 200);
  EXPECT_EQ(head.header("Content-Length"), "12");
  EXPECT_EQ(serve(http::verb::head, "object/files/dir/missing.txt").status, 404);
  expectError(serve(http::verb::get, "object/files/dir/missing.txt"), 404, "not_found");
  expectError(serve(http::verb::get, "object/info/files/missing"), 404, "not_found");

  // The part named "" is the file even without a file name; a form without one is refused.
  const std::string b = kBoundary;
  const std::string bare = "--" + b +
                           "\r\nContent-Disposition: form-data; name=\"\"\r\n\r\nno name" +
                           "\r\n--" + b + "--\r\n";
  EXPECT_EQ(serve(http::verb::post, "object/files/nameless", bare, kFormType).status, 200);
  EXPECT_EQ(serve(http::verb::get, "object/files/nameless").body, "no name");
  const std::string fieldsOnly =
      "--" + b + "\r\nContent-Disposition: form-data; name=\"cacheControl\"\r\n\r\n1" + "\r\n--" +
      b + "--\r\n";
  expectError(serve(http::verb::post, "object/files/none", fieldsOnly, kFormType), 400,
              "Invalid Input");
}

TEST_F(StorageApi, HeadAnswersCarryNoBodyOnAKeptConnection) {
  createBucket("h");
  put("h", "here.txt", "present");
  net::io_context ioc;
  tcp::socket socket(ioc);
  socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), server_.port()));
  const std::string key = "\r\nHost: x\r\napikey: " + server_.serviceKey() + "\r\n\r\n";
  // The gateway's own refusals (no key) follow the same rule.
  net::write(socket, net::buffer("HEAD /storage/v1/object/h/missing.txt HTTP/1.1" + key +
                                 "HEAD /storage/v1/object/h/here.txt HTTP/1.1\r\nHost: x\r\n\r\n" +
                                 "HEAD /storage/v1/object/h/here.txt HTTP/1.1" + key +
                                 "GET /storage/v1/object/h/here.txt HTTP/1.1" + key));
  boost::beast::flat_buffer buffer;
  std::vector<std::pair<unsigned, std::string>> answers;
  for (const bool head : {true, true, true, false}) {
    http::response_parser<http::string_body> parser;
    parser.skip(head);
    http::read(socket, buffer, parser);
    answers.emplace_back(parser.get().result_int(), parser.get().body());
  }
  EXPECT_EQ(answers[0].first, 404u);
  EXPECT_EQ(answers[1].first, 401u);
  EXPECT_EQ(answers[2].first, 200u);
  EXPECT_EQ(answers[3], (std::pair<unsigned, std::string>{200u, "present"}));
}

TEST_F(StorageApi, StoredHeaderValuesCannotInjectHeadersIntoDownloads) {
  createBucket("inj", R"("public":true)");
  const std::string b = kBoundary;
  const auto upload = [&](const std::string& cacheControl, const std::string& type) {
    const std::string body =
        "--" + b + "\r\nContent-Disposition: form-data; name=\"cacheControl\"\r\n\r\n" +
        cacheControl + "\r\n--" + b +
        "\r\nContent-Disposition: form-data; name=\"\"; filename=\"f\"\r\nContent-Type: " + type +
        "\r\n\r\nbody\r\n--" + b + "--\r\n";
    return serve(http::verb::post, "object/inj/f.txt", body, kFormType);
  };
  // A form field is free text: line breaks in it would end the header it is stored into.
  expectError(upload("60\r\nX-Injected: yes", "text/plain"), 400, "Invalid Input");
  expectError(upload("60\nX-Injected: yes", "text/plain"), 400, "Invalid Input");
  expectError(upload("60", std::string("text/plain\0x", 12)), 400, "Invalid Input");
  const auto download = bare(http::verb::get, "/object/public/inj/f.txt");
  EXPECT_EQ(download.status, 404) << "nothing was stored";
  EXPECT_EQ(download.header("X-Injected"), "");

  ASSERT_EQ(upload("no-cache, max-age=0", "text/plain; charset=utf-8").status, 200);
  const auto stored = bare(http::verb::get, "/object/public/inj/f.txt");
  EXPECT_EQ(stored.body, "body");
  EXPECT_EQ(stored.header("Cache-Control"), "no-cache, max-age=0");
  EXPECT_EQ(stored.header("Content-Type"), "text/plain; charset=utf-8");
}

TEST_F(StorageApi, UpsertDecidesWhetherAnUploadReplaces) {
  createBucket("b");
  put("b", "x.txt", "first");
  expectError(serve(http::verb::post, "object/b/x.txt", form("second"), kFormType), 409,
              "Duplicate");
  Headers upsert = kFormType;
  upsert.emplace_back("x-upsert", "true");
  EXPECT_EQ(serve(http::verb::post, "object/b/x.txt", form("second"), upsert).status, 200);
  EXPECT_EQ(fetch("b", "x.txt"), "second");
  EXPECT_EQ(serve(http::verb::put, "object/b/x.txt", form("third"), kFormType).status, 200);
  EXPECT_EQ(fetch("b", "x.txt"), "third");
  expectError(serve(http::verb::put, "object/b/new.txt", form("x"), kFormType), 404, "not_found");
}

TEST_F(StorageApi, RawBodiesAreStoredAsSent) {
  createBucket("raw");
  const std::string bytes("\x89PNG\r\n\x1a\n\0binary", 16);
  const auto result = serve(http::verb::post, "object/raw/p.png", bytes,
                            {{"Content-Type", "image/png"}, {"Cache-Control", "no-cache"}});
  ASSERT_EQ(result.status, 200) << result.body;
  const auto download = serve(http::verb::get, "object/raw/p.png");
  EXPECT_EQ(download.body, bytes);
  EXPECT_EQ(download.header("Content-Type"), "image/png");
  EXPECT_EQ(download.header("Cache-Control"), "no-cache");
  expectError(
      serve(http::verb::post, "object/raw/q", "x", {{"Content-Type", "multipart/form-data"}}), 400,
      "Invalid Input");
}

TEST_F(StorageApi, ListShowsOneFolderLevelSortedAndPaged) {
  createBucket("l");
  for (const char* path : {"top.txt", "f/b.txt", "f/a.txt", "f/sub/deep.txt", "f/c.md"}) {
    put("l", path, path);
  }
  const auto names = [&](const std::string& body) {
    std::vector<std::string> found;
    const auto result = serve(http::verb::post, "object/list/l", body);
    EXPECT_EQ(result.status, 200) << result.body;
    const auto entries = result.json();
    for (const auto& entry : entries.as_array()) found.push_back(text(entry, "name"));
    return found;
  };
  using Names = std::vector<std::string>;
  EXPECT_EQ(names(R"({"prefix":""})"), (Names{"f", "top.txt"}));
  EXPECT_EQ(
      names(R"({"prefix":"f","limit":100,"offset":0,"sortBy":{"column":"name","order":"asc"}})"),
      (Names{"sub", "a.txt", "b.txt", "c.md"}));
  EXPECT_EQ(names(R"({"prefix":"f/","sortBy":{"order":"desc"}})"),
            (Names{"sub", "c.md", "b.txt", "a.txt"}));
  EXPECT_EQ(names(R"({"prefix":"f","limit":2,"offset":1})"), (Names{"a.txt", "b.txt"}));
  EXPECT_EQ(names(R"({"prefix":"f","search":".txt"})"), (Names{"a.txt", "b.txt"}));

  const auto listed = serve(http::verb::post, "object/list/l", R"({"prefix":"f"})").json();
  const auto& folder = listed.as_array()[0].as_object();
  EXPECT_TRUE(folder.at("id").is_null());
  const auto& file = listed.as_array()[1].as_object();
  EXPECT_EQ(file.at("id").as_string().size(), 36u);
  EXPECT_EQ(file.at("metadata").at("size"), 7);
  EXPECT_EQ(file.at("metadata").at("mimetype"), "text/plain");
  expectError(serve(http::verb::post, "object/list/l", R"({"sortBy":{"column":"size"}})"), 400,
              "Invalid Input");
}

TEST_F(StorageApi, MoveCopyAndRemove) {
  createBucket("src");
  createBucket("dst");
  put("src", "a.txt", "alpha");
  put("src", "b.txt", "beta");
  auto moved = serve(http::verb::post, "object/move",
                     R"({"bucketId":"src","sourceKey":"a.txt","destinationKey":"m/a.txt",)"
                     R"("destinationBucket":null})");
  ASSERT_EQ(moved.status, 200) << moved.body;
  EXPECT_EQ(fetch("src", "m/a.txt"), "alpha");
  EXPECT_EQ(fetch("src", "a.txt"), "status 404");
  expectError(serve(http::verb::post, "object/move",
                    R"({"bucketId":"src","sourceKey":"b.txt","destinationKey":"m/a.txt"})"),
              409, "Duplicate");

  auto copied = serve(http::verb::post, "object/copy",
                      R"({"bucketId":"src","sourceKey":"b.txt","destinationKey":"c/b.txt",)"
                      R"("destinationBucket":"dst"})");
  ASSERT_EQ(copied.status, 200) << copied.body;
  EXPECT_EQ(text(copied.json(), "Key"), "dst/c/b.txt");
  EXPECT_EQ(fetch("dst", "c/b.txt"), "beta");
  EXPECT_EQ(fetch("src", "b.txt"), "beta");
  expectError(serve(http::verb::post, "object/copy",
                    R"({"bucketId":"src","sourceKey":"gone","destinationKey":"x"})"),
              404, "not_found");

  const auto removed =
      serve(http::verb::delete_, "object/src", R"({"prefixes":["b.txt","m/a.txt","never.txt"]})");
  ASSERT_EQ(removed.status, 200) << removed.body;
  const auto body = removed.json();
  const auto& list = body.as_array();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(text(list[0], "name"), "b.txt");
  EXPECT_EQ(fetch("src", "b.txt"), "status 404");
  EXPECT_EQ(serve(http::verb::delete_, "object/src", R"({"prefixes":[]})").body, "[]");
}

TEST_F(StorageApi, SignedURLsWorkWithoutKeyForTheirObjectOnly) {
  createBucket("s");
  put("s", "dir/file%20one.txt", "signed content");
  put("s", "other.txt", "other");
  const auto signedResult =
      serve(http::verb::post, "object/sign/s/dir/file%20one.txt", R"({"expiresIn":60})");
  ASSERT_EQ(signedResult.status, 200) << signedResult.body;
  const std::string url = text(signedResult.json(), "signedURL");
  ASSERT_EQ(url.rfind("/object/sign/s/dir/file%20one.txt?token=", 0), 0u) << url;

  const auto download = bare(http::verb::get, url);
  EXPECT_EQ(download.status, 200);
  EXPECT_EQ(download.body, "signed content");
  EXPECT_EQ(bare(http::verb::get, url + "&download=").header("Content-Disposition"),
            "attachment; filename=\"file one.txt\"");
  EXPECT_EQ(bare(http::verb::get, url + "&download=x%22.txt").header("Content-Disposition"),
            "attachment; filename=\"x_.txt\"");

  const std::string token = url.substr(url.find("token=") + 6);
  expectError(bare(http::verb::get, "/object/sign/s/other.txt?token=" + token), 400,
              "InvalidSignature");
  ASSERT_FALSE(token.empty()) << url;
  std::string tampered = token;
  tampered.back() = tampered.back() == 'A' ? 'B' : 'A';
  expectError(bare(http::verb::get, "/object/sign/s/dir/file%20one.txt?token=" + tampered), 400,
              "InvalidJWT");
  expectError(bare(http::verb::get, "/object/sign/s/dir/file%20one.txt"), 400, "InvalidJWT");
  // A user's access token is not a signature.
  const auto user = signUp("signer");
  expectError(bare(http::verb::get, "/object/sign/s/other.txt?token=" + user.accessToken), 400,
              "InvalidSignature");

  expectError(serve(http::verb::post, "object/sign/s/missing.txt", R"({"expiresIn":60})"), 404,
              "not_found");
  expectError(serve(http::verb::post, "object/sign/s/other.txt", R"({"expiresIn":0})"), 400,
              "Invalid Input");
  const auto many = serve(http::verb::post, "object/sign/s",
                          R"({"expiresIn":60,"paths":["other.txt","missing.txt"]})");
  ASSERT_EQ(many.status, 200) << many.body;
  const auto body = many.json();
  const auto& entries = body.as_array();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].at("error").is_null());
  EXPECT_EQ(bare(http::verb::get, text(entries[0], "signedURL")).body, "other");
  EXPECT_TRUE(entries[1].at("signedURL").is_null());
  EXPECT_FALSE(text(entries[1], "error").empty());
}

TEST_F(StorageApi, ExpiredSignedURLsAreRefused) {
  createBucket("e");
  put("e", "t.txt", "soon gone");
  // Expiry times are whole seconds, so a one-second URL signed late in a second may already
  // have expired when first used; two seconds leave at least one.
  const auto url = text(serve(http::verb::post, "object/sign/e/t.txt", R"({"expiresIn":2})").json(),
                        "signedURL");
  EXPECT_EQ(bare(http::verb::get, url).status, 200);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  HttpResult result;
  do {
    result = bare(http::verb::get, url);
    if (result.status != 200) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  } while (std::chrono::steady_clock::now() < deadline);
  expectError(result, 400, "InvalidJWT");
  EXPECT_EQ(text(result.json(), "message"), "jwt expired");
}

TEST_F(StorageApi, SignedUploadURLsCarryTheirPathAndUpsert) {
  const auto user = signUp("uploader");
  ASSERT_EQ(as(user.accessToken, http::verb::post, "bucket", R"({"id":"up"})").status, 200);
  const auto created = as(user.accessToken, http::verb::post, "object/upload/sign/up/u/x.bin");
  ASSERT_EQ(created.status, 200) << created.body;
  const std::string url = text(created.json(), "url");
  ASSERT_EQ(url.rfind("/object/upload/sign/up/u/x.bin?token=", 0), 0u) << url;
  const std::string token = url.substr(url.find("token=") + 6);
  EXPECT_EQ(text(created.json(), "token"), token);

  auto uploaded = bare(http::verb::put, url, form("via url"), kFormType);
  ASSERT_EQ(uploaded.status, 200) << uploaded.body;
  EXPECT_EQ(text(uploaded.json(), "Key"), "up/u/x.bin");
  EXPECT_EQ(as(user.accessToken, http::verb::get, "object/up/u/x.bin").body, "via url");
  EXPECT_EQ(text(as(user.accessToken, http::verb::post, "object/list/up", R"({"prefix":"u"})")
                     .json()
                     .as_array()[0],
                 "owner"),
            user.id);
  // Without upsert the URL cannot replace what it made; with it, it can.
  expectError(bare(http::verb::put, url, form("again"), kFormType), 409, "Duplicate");
  const auto upsertURL = text(as(user.accessToken, http::verb::post,
                                 "object/upload/sign/up/u/x.bin", {}, {{"x-upsert", "true"}})
                                  .json(),
                              "url");
  EXPECT_EQ(bare(http::verb::put, upsertURL, form("again"), kFormType).status, 200);
  EXPECT_EQ(as(user.accessToken, http::verb::get, "object/up/u/x.bin").body, "again");
  expectError(bare(http::verb::put, "/object/upload/sign/up/u/other.bin?token=" + token, form("x"),
                   kFormType),
              400, "InvalidSignature");
  // A download signature does not authorise an upload.
  const auto download =
      text(as(user.accessToken, http::verb::post, "object/sign/up/u/x.bin", R"({"expiresIn":60})")
               .json(),
           "signedURL");
  expectError(
      bare(http::verb::put,
           "/object/upload/sign/up/u/x.bin?token=" + download.substr(download.find("token=") + 6),
           form("x"), kFormType),
      400, "InvalidSignature");
}

TEST_F(StorageApi, PublicURLsAndTheAccessRules) {
  const auto owner = signUp("owner");
  const auto stranger = signUp("stranger");
  ASSERT_EQ(
      as(owner.accessToken, http::verb::post, "bucket", R"({"id":"pub","public":true})").status,
      200);
  ASSERT_EQ(as(owner.accessToken, http::verb::post, "bucket", R"({"id":"priv"})").status, 200);
  for (const char* bucket : {"pub", "priv"}) {
    ASSERT_EQ(as(owner.accessToken, http::verb::post, std::string("object/") + bucket + "/a.txt",
                 form("content"), kFormType)
                  .status,
              200);
  }
  EXPECT_EQ(bare(http::verb::get, "/object/public/pub/a.txt").body, "content");
  EXPECT_EQ(bare(http::verb::head, "/object/public/pub/a.txt").status, 200);
  EXPECT_EQ(bare(http::verb::get, "/render/image/public/pub/a.txt?width=10").body, "content");
  expectError(bare(http::verb::get, "/object/public/priv/a.txt"), 404, "Bucket not found");
  EXPECT_EQ(bare(http::verb::get, "/object/pub/a.txt").status, 401) << "the gateway wants a key";

  // The anonymous key reads public buckets and writes nothing.
  EXPECT_EQ(get("/storage/v1/object/pub/a.txt").body, "content");
  expectError(get("/storage/v1/object/priv/a.txt"), 404, "Bucket not found");
  expectError(as({}, http::verb::post, "object/pub/b.txt", form("x"), kFormType), 401,
              "Unauthorized");
  // Another user reads the public bucket, cannot write to it, and cannot see the private one.
  EXPECT_EQ(as(stranger.accessToken, http::verb::get, "object/pub/a.txt").body, "content");
  expectError(as(stranger.accessToken, http::verb::post, "object/pub/b.txt", form("x"), kFormType),
              403, "Unauthorized");
  expectError(
      as(stranger.accessToken, http::verb::delete_, "object/pub", R"({"prefixes":["a.txt"]})"), 403,
      "Unauthorized");
  expectError(as(stranger.accessToken, http::verb::get, "object/priv/a.txt"), 404,
              "Bucket not found");
  expectError(
      as(stranger.accessToken, http::verb::post, "object/sign/priv/a.txt", R"({"expiresIn":60})"),
      404, "Bucket not found");
  expectError(as("not-a-token", http::verb::get, "object/pub/a.txt"), 400, "InvalidJWT");
}

TEST_F(StorageApi, RefusesObjectPathsThatWouldLeaveTheBucket) {
  createBucket("safe");
  const std::vector<std::string> paths{"..",   "a/../../b", "%2E%2E/x",   "a%00b",  "/lead",
                                       "a//b", "trailing/", "a%5C..%5Cb", "%0Aline"};
  for (const auto& path : paths) {
    expectError(serve(http::verb::post, "object/safe/" + path, form("x"), kFormType), 400,
                "InvalidKey");
    expectError(serve(http::verb::get, "object/safe/" + path), 400, "InvalidKey");
  }
  expectError(serve(http::verb::post, "object/move",
                    R"({"bucketId":"safe","sourceKey":"x","destinationKey":"../x"})"),
              400, "InvalidKey");
  expectError(serve(http::verb::delete_, "object/safe", R"({"prefixes":["a/.."]})"), 400,
              "InvalidKey");
  EXPECT_EQ(serve(http::verb::post, "object/list/safe", "{}").body, "[]");

  // The message names the refused path, with control characters escaped.
  const auto message = [&](const std::string& path) {
    return text(serve(http::verb::get, "object/safe/" + path).json(), "message");
  };
  EXPECT_EQ(message("trailing/"), R"(Invalid key: "trailing/")");
  EXPECT_EQ(message("a/../../b"), R"(Invalid key: "a/../../b")");
  EXPECT_EQ(message("%0Aline"), R"(Invalid key: "\x0aline")");
  const std::string longPath(300, 'x');
  EXPECT_EQ(message(longPath + "/"),
            "Invalid key: \"" + std::string(200, 'x') + "\" (cut after 200 bytes)");
}

class StorageLimits : public StorageApi {
 protected:
  static ServerOptions small() {
    ServerOptions options;
    options.maxUploadBytes = 1000;
    return options;
  }
  StorageLimits() : StorageApi(small()) {}
};

TEST_F(StorageLimits, RefusesOversizeUploadsAndUnlistedTypes) {
  createBucket(
      "lim",
      R"("public":false,"file_size_limit":100,"allowed_mime_types":["image/*","text/plain"])");
  createBucket("big");
  expectError(serve(http::verb::post, "object/big/x", form(std::string(1001, 'x')), kFormType), 413,
              "Payload too large");
  expectError(serve(http::verb::post, "object/big/x", std::string(1001, 'x')), 413,
              "Payload too large");
  EXPECT_EQ(serve(http::verb::post, "object/big/x", form(std::string(1000, 'x')), kFormType).status,
            200);
  // Far beyond the limit the listener stops reading.
  EXPECT_EQ(serve(http::verb::post, "object/big/y", std::string(200 * 1024, 'y')).status, 413);

  expectError(serve(http::verb::post, "object/lim/x", form(std::string(101, 'x')), kFormType), 413,
              "Payload too large");
  expectError(serve(http::verb::post, "object/lim/x", form("x", "application/pdf"), kFormType), 415,
              "invalid_mime_type");
  EXPECT_EQ(serve(http::verb::post, "object/lim/p", form("x", "image/png"), kFormType).status, 200);
  EXPECT_EQ(
      serve(http::verb::post, "object/lim/t", form("x", "Text/Plain; charset=utf-8"), kFormType)
          .status,
      200);
  expectError(serve(http::verb::post, "object/copy",
                    R"({"bucketId":"big","sourceKey":"x","destinationKey":"x",)"
                    R"("destinationBucket":"lim"})"),
              413, "Payload too large");
  EXPECT_EQ(fetch("lim", "x"), "status 404");
}

// A server with a data folder, so that the test can look at what is left on disk.
class StorageOnDisk : public StorageApi {
 protected:
  static ServerOptions onDisk() {
    ServerOptions options;
    options.dataDir =
        std::filesystem::temp_directory_path() / ("voduzazi-storage-test-" + detail::randomUuid());
    return options;
  }
  explicit StorageOnDisk(ServerOptions options = onDisk())
      : StorageApi(options), dir_(*options.dataDir) {}
  ~StorageOnDisk() override {
    server_.stop();
    std::filesystem::remove_all(dir_);
  }

  std::size_t filesIn(const std::string& folder) const {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_ / "storage" / folder)) {
      (void)entry;
      ++count;
    }
    return count;
  }

  std::filesystem::path dir_;
};

TEST_F(StorageOnDisk, FailedAndInterruptedUploadsLeaveNothing) {
  createBucket("d");
  put("d", "kept.txt", "kept");
  ASSERT_EQ(filesIn("objects"), 1u);

  // Cut off mid-body: the server drops the spooled part when the connection ends. The
  // connection stays open until the spool is on disk, so the check after the cut cannot run
  // before the server has started spooling.
  const auto waitForUploads = [&](std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (filesIn("uploads") != count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return filesIn("uploads");
  };
  {
    net::io_context ioc;
    tcp::socket socket(ioc);
    socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), server_.port()));
    const std::string head =
        "POST /storage/v1/object/d/cut.txt HTTP/1.1\r\nHost: x\r\napikey: " + server_.serviceKey() +
        "\r\nAuthorization: Bearer " + server_.serviceKey() +
        "\r\nContent-Type: text/plain\r\nContent-Length: 100000\r\n\r\n";
    net::write(socket, net::buffer(head + std::string(50000, 'c')));
    ASSERT_EQ(waitForUploads(1), 1u) << "the partial body is spooled while the connection lasts";
  }
  EXPECT_EQ(waitForUploads(0), 0u);

  // Refused after the body arrived: a form without its closing delimiter, a wrong type.
  std::string broken = form("never stored");
  broken.resize(broken.size() - 8);
  expectError(serve(http::verb::post, "object/d/broken.txt", broken, kFormType), 400,
              "Invalid Input");
  expectError(serve(http::verb::post, "object/d/kept.txt", form("replaced?"), kFormType), 409,
              "Duplicate");
  EXPECT_EQ(fetch("d", "cut.txt"), "status 404");
  EXPECT_EQ(fetch("d", "broken.txt"), "status 404");
  EXPECT_EQ(fetch("d", "kept.txt"), "kept");
  EXPECT_EQ(filesIn("objects"), 1u);
  EXPECT_EQ(filesIn("uploads"), 0u);

  // Replacing and removing leave one file per stored object.
  Headers upsert = kFormType;
  upsert.emplace_back("x-upsert", "true");
  EXPECT_EQ(serve(http::verb::post, "object/d/kept.txt", form("new"), upsert).status, 200);
  EXPECT_EQ(filesIn("objects"), 1u);
  EXPECT_EQ(serve(http::verb::delete_, "object/d", R"({"prefixes":["kept.txt"]})").status, 200);
  EXPECT_EQ(filesIn("objects"), 0u);
}

TEST_F(StorageOnDisk, AFailureOnARoadWithoutKeyAnswers500AndTheServerGoesOn) {
  createBucket("lost", R"("public":true)");
  put("lost", "a.txt", "gone soon");
  for (const auto& entry : std::filesystem::directory_iterator(dir_ / "storage" / "objects")) {
    std::filesystem::remove(entry.path());
  }
  // The row is there, its content is not: an internal failure, answered like any other.
  const auto result = bare(http::verb::get, "/object/public/lost/a.txt");
  EXPECT_EQ(result.status, 500) << result.body;
  EXPECT_EQ(text(result.json(), "message"), "An unexpected error occurred");
  EXPECT_EQ(fetch("lost", "missing.txt"), "status 404") << "the server still answers";
}

TEST_F(StorageOnDisk, ObjectsSurviveARestart) {
  createBucket("keep");
  put("keep", "a.txt", "still here");
  server_.stop();
  ServerOptions options;
  options.dataDir = dir_;
  Server again(options);
  TestClient client(again.port());
  const auto result = client.send(http::verb::get, "/storage/v1/object/keep/a.txt", {},
                                  {{"apikey", again.serviceKey()}});
  EXPECT_EQ(result.body, "still here");
}

// Large bodies, written and read piece by piece on the test's side too.
class StorageStreaming : public StorageApi {
 protected:
  static constexpr std::size_t kSize = 50 * 1000 * 1000;

  // Deterministic bytes that do not repeat with a short period.
  static void fill(std::string& piece, std::uint64_t& state) {
    for (auto& c : piece) {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      c = static_cast<char>(state >> 56);
    }
  }

  struct Digest {
    Digest() : context(EVP_MD_CTX_new()) { EVP_DigestInit_ex(context, EVP_sha256(), nullptr); }
    ~Digest() { EVP_MD_CTX_free(context); }
    void add(std::string_view bytes) { EVP_DigestUpdate(context, bytes.data(), bytes.size()); }
    std::string finish() {
      unsigned char out[EVP_MAX_MD_SIZE];
      unsigned int length = 0;
      EVP_DigestFinal_ex(context, out, &length);
      return std::string(reinterpret_cast<char*>(out), length);
    }
    EVP_MD_CTX* context;
  };

  // Uploads kSize generated bytes as a form; returns the status and the content's digest.
  std::pair<int, std::string> upload(const std::string& path) {
    net::io_context ioc;
    tcp::socket socket(ioc);
    socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), server_.port()));
    const std::string b = kBoundary;
    const std::string opening = "--" + b +
                                "\r\nContent-Disposition: form-data; name=\"\"; filename=\"big\""
                                "\r\nContent-Type: application/octet-stream\r\n\r\n";
    const std::string closing = "\r\n--" + b + "--\r\n";
    const std::string head = "POST /storage/v1/object/" + path + " HTTP/1.1\r\nHost: x\r\n" +
                             "apikey: " + server_.serviceKey() + "\r\nAuthorization: Bearer " +
                             server_.serviceKey() + "\r\nContent-Type: " + kFormType[0].second +
                             "\r\nExpect: 100-continue\r\nConnection: close\r\nContent-Length: " +
                             std::to_string(opening.size() + kSize + closing.size()) + "\r\n\r\n";
    net::write(socket, net::buffer(head));
    net::streambuf interim;
    net::read_until(socket, interim, "\r\n\r\n");
    EXPECT_EQ(std::string(net::buffers_begin(interim.data()), net::buffers_end(interim.data())),
              "HTTP/1.1 100 Continue\r\n\r\n");
    net::write(socket, net::buffer(opening));
    Digest digest;
    std::uint64_t state = 42;
    std::string piece(1 << 20, '\0');
    for (std::size_t sent = 0; sent < kSize; sent += piece.size()) {
      piece.resize(std::min(piece.size(), kSize - sent));
      fill(piece, state);
      digest.add(piece);
      net::write(socket, net::buffer(piece));
    }
    net::write(socket, net::buffer(closing));
    boost::beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(socket, buffer, response);
    EXPECT_EQ(response.result_int(), 200u) << response.body();
    return {static_cast<int>(response.result_int()), digest.finish()};
  }

  // Downloads piece by piece; returns the byte count and their digest.
  std::pair<std::size_t, std::string> download(const std::string& path) {
    net::io_context ioc;
    tcp::socket socket(ioc);
    socket.connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), server_.port()));
    http::request<http::empty_body> request{http::verb::get, "/storage/v1/object/" + path, 11};
    request.set(http::field::host, "x");
    request.set("apikey", server_.serviceKey());
    request.keep_alive(false);
    http::write(socket, request);
    boost::beast::flat_buffer buffer;
    http::response_parser<http::buffer_body> parser;
    parser.body_limit(boost::none);
    http::read_header(socket, buffer, parser);
    EXPECT_EQ(parser.get().result_int(), 200u);
    Digest digest;
    std::size_t total = 0;
    std::string piece(1 << 16, '\0');
    while (!parser.is_done()) {
      parser.get().body().data = piece.data();
      parser.get().body().size = piece.size();
      boost::beast::error_code ec;
      http::read(socket, buffer, parser, ec);
      if (ec && ec != http::error::need_buffer) {
        ADD_FAILURE() << ec.message();
        break;
      }
      const std::size_t got = piece.size() - parser.get().body().size;
      digest.add(std::string_view(piece.data(), got));
      total += got;
    }
    return {total, digest.finish()};
  }
};

TEST_F(StorageStreaming, FiftyMegabytesGoUpAndComeBackByteForByte) {
  createBucket("large");
  const auto [status, sent] = upload("large/big.bin");
  ASSERT_EQ(status, 200);
  const auto [size, received] = download("large/big.bin");
  EXPECT_EQ(size, kSize);
  EXPECT_TRUE(sent == received) << "the downloaded bytes differ from the uploaded ones";
  const auto info = serve(http::verb::get, "object/info/large/big.bin").json();
  EXPECT_EQ(info.at("size"), static_cast<std::int64_t>(kSize));
}

}  // namespace
}  // namespace local_backend::testing
