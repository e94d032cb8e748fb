// The storage client against the in-process stand-in backend, over loopback and through the
// facade's authorised fetch: buckets, uploads (from memory and streamed from disk), listing,
// downloads, signed and public URLs, move, copy and removal.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "local_backend/server.hpp"
#include "tests/support/eventually.hpp"
#include "voduzazi/client/voduzazi_client.hpp"
#include "voduzazi/helpers/http_error.hpp"
#include "voduzazi/storage/storage_error.hpp"

namespace voduzazi::testing {
namespace {

using storage::StorageError;
using storage::StorageFileApi;

std::string uniqueName(std::string_view prefix) {
  static std::mt19937_64 random{std::random_device{}()};
  return std::string(prefix) + "-" + std::to_string(random() % 1'000'000'000);
}

// SHA-256 over the pieces as they come, so a large object is never hashed from one copy.
class Sha256 {
 public:
  Sha256() : context_(EVP_MD_CTX_new()) { EVP_DigestInit_ex(context_, EVP_sha256(), nullptr); }
  ~Sha256() { EVP_MD_CTX_free(context_); }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;
  void add(std::string_view bytes) { EVP_DigestUpdate(context_, bytes.data(), bytes.size()); }
  std::string finish() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context_, digest, &length);
    return std::string(reinterpret_cast<const char*>(digest), length);
  }

 private:
  EVP_MD_CTX* context_;
};

// A file of pseudo-random bytes that removes itself; its digest is taken while writing.
class RandomFile {
 public:
  explicit RandomFile(std::size_t size) {
    std::mt19937_64 random{42};
    std::ofstream out(path_, std::ios::binary);
    std::string chunk(1 << 20, '\0');
    Sha256 digest;
    for (std::size_t written = 0; written < size; written += chunk.size()) {
      chunk.resize(std::min(chunk.size(), size - written));
      for (char& c : chunk) c = static_cast<char>(random());
      out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
      digest.add(chunk);
    }
    digest_ = digest.finish();
  }
  ~RandomFile() { std::filesystem::remove(path_); }
  RandomFile(const RandomFile&) = delete;
  RandomFile& operator=(const RandomFile&) = delete;

  boost::urls::url url() const { return boost::urls::url("file://" + path_.string()); }
  const std::string& digest() const { return digest_; }

 private:
  std::filesystem::path path_ =
      std::filesystem::temp_directory_path() /
      (uniqueName("storage-e2e") + "-" + std::to_string(::getpid()) + ".bin");
  std::string digest_;
};

class StorageEndToEndTest : public ::testing::Test {
 protected:
  StorageEndToEndTest() {
    VoduzaziClientOptions options;
    options.auth.storage = std::make_shared<auth::InMemoryAuthLocalStorage>();
    client = std::make_unique<VoduzaziClient>(server.url(), server.anonKey(), options);
    const std::string email = uniqueName("storage") + "@example.com";
    EXPECT_TRUE(client->auth().signUp(email, "a long password").session());
  }

  storage::VoduzaziStorageClient& storage() { return client->storage(); }

  // A new bucket owned by the signed-in user.
  StorageFileApi newBucket(bool isPublic = false) {
    const std::string id = uniqueName("bucket");
    storage().createBucket(id, {.isPublic = isPublic});
    return storage().from(id);
  }

  // A plain GET without the facade's headers or token.
  static FetchResult fetchWithoutToken(const boost::urls::url& url) {
    URLRequest request;
    request.url = url;
    return URLSession::shared().data(request);
  }

  static int status(const FetchResult& result) {
    const auto http = std::dynamic_pointer_cast<const HTTPURLResponse>(result.response);
    return http ? http->statusCode() : 0;
  }

  local_backend::Server server;
  std::unique_ptr<VoduzaziClient> client;
};

TEST_F(StorageEndToEndTest, BucketsAreCreatedReadUpdatedEmptiedAndDeleted) {
  const std::string id = uniqueName("bucket");
  storage().createBucket(id, {.isPublic = false, .fileSizeLimit = "1048576"});
  const storage::Bucket bucket = storage().getBucket(id);
  EXPECT_EQ(bucket.id, id);
  EXPECT_EQ(bucket.name, id);
  EXPECT_FALSE(bucket.isPublic);
  const auto all = storage().listBuckets();
  EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const auto& b) { return b.id == id; }));

  storage().updateBucket(id, {.isPublic = true});
  EXPECT_TRUE(storage().getBucket(id).isPublic);
  storage().from(id).upload("a.txt", "x");
  storage().emptyBucket(id);
  EXPECT_TRUE(storage().from(id).list().empty());
  storage().deleteBucket(id);
  EXPECT_THROW(storage().getBucket(id), StorageError);
}

TEST_F(StorageEndToEndTest, ObjectsGoUpAreListedComeBackMoveCopyAndGo) {
  StorageFileApi files = newBucket();
  const storage::FileUploadResponse uploaded = files.upload("/docs//a.txt", "hello");
  EXPECT_EQ(uploaded.path, "/docs//a.txt");
  EXPECT_EQ(uploaded.fullPath, files.bucketId() + "/docs/a.txt");
  EXPECT_FALSE(uploaded.id.empty());
  EXPECT_THROW(files.upload("docs/a.txt", "again"), StorageError);  // no upsert
  files.update("docs/a.txt", "hello again");

  const auto listed = files.list("docs");
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].name, "a.txt");
  EXPECT_EQ(files.download("docs/a.txt"), "hello again");
  EXPECT_EQ(files.info("docs/a.txt").name, "docs/a.txt");
  EXPECT_TRUE(files.exists("docs/a.txt"));
  EXPECT_FALSE(files.exists("docs/missing.txt"));

  files.move("docs/a.txt", "docs/b.txt");
  EXPECT_FALSE(files.exists("docs/a.txt"));
  EXPECT_EQ(files.copy("docs/b.txt", "c.txt"), files.bucketId() + "/c.txt");
  EXPECT_EQ(files.download("c.txt"), "hello again");

  const auto removed = files.remove({"docs/b.txt", "c.txt"});
  EXPECT_EQ(removed.size(), 2u);
  EXPECT_FALSE(files.exists("c.txt"));
  EXPECT_TRUE(files.list().empty());
}

TEST_F(StorageEndToEndTest, SignedURLsWorkWithoutATokenUntilTheyExpire) {
  StorageFileApi files = newBucket();
  files.upload("secret.txt", "for your eyes");
  EXPECT_EQ(status(fetchWithoutToken(files.getPublicURL("secret.txt"))) / 100, 4);

  const boost::urls::url url = files.createSignedURL("secret.txt", 600);
  const FetchResult fetched = fetchWithoutToken(url);
  EXPECT_EQ(status(fetched), 200);
  EXPECT_EQ(fetched.data, "for your eyes");
  const auto many = files.createSignedURLs({"secret.txt"}, 600, true);
  ASSERT_EQ(many.size(), 1u);
  EXPECT_EQ(fetchWithoutToken(many[0]).data, "for your eyes");

  // Signed for one path, refused for another.
  boost::urls::url other = url;
  other.set_encoded_path(std::string(url.encoded_path()) + "x");
  EXPECT_EQ(status(fetchWithoutToken(other)) / 100, 4);

  const boost::urls::url shortLived = files.createSignedURL("secret.txt", 1);
  EXPECT_TRUE(eventually([&] {
    const FetchResult refused = fetchWithoutToken(shortLived);
    return status(refused) / 100 == 4 && refused.data.find("expired") != std::string::npos;
  })) << "an expired URL was still served";
}

TEST_F(StorageEndToEndTest, SignedUploadURLsTakeOneUploadWithoutASession) {
  StorageFileApi files = newBucket();
  const storage::SignedUploadURL signedURL = files.createSignedUploadURL("drop/in.txt");
  EXPECT_FALSE(signedURL.token.empty());
  // A client without a session: the token alone allows the upload.
  VoduzaziClientOptions options;
  options.auth.storage = std::make_shared<auth::InMemoryAuthLocalStorage>();
  const VoduzaziClient anonymous(server.url(), server.anonKey(), options);
  const auto uploaded = anonymous.storage()
                            .from(files.bucketId())
                            .uploadToSignedURL("drop/in.txt", signedURL.token, Data("dropped"));
  EXPECT_EQ(uploaded.fullPath, files.bucketId() + "/drop/in.txt");
  EXPECT_EQ(files.download("drop/in.txt"), "dropped");
}

TEST_F(StorageEndToEndTest, PublicBucketsServeObjectsByTheirPublicURL) {
  StorageFileApi files = newBucket(true);
  files.upload("hello world.json", R"({"a":1})");
  const FetchResult fetched = fetchWithoutToken(files.getPublicURL("hello world.json"));
  EXPECT_EQ(status(fetched), 200);
  EXPECT_EQ(fetched.data, R"({"a":1})");
}

TEST_F(StorageEndToEndTest, RefusalsReachTheCallerAndLeaveNothingBehind) {
  const std::string id = uniqueName("bucket");
  storage().createBucket(id, {.isPublic = false,
                              .fileSizeLimit = "10",
                              .allowedMimeTypes = std::vector<std::string>{"image/png"}});
  StorageFileApi files = storage().from(id);
  EXPECT_EQ(files.upload("ok.png", "12345").fullPath, id + "/ok.png");
  EXPECT_THROW(files.upload("big.png", Data(11, 'x')), StorageError);
  EXPECT_THROW(files.upload("a.txt", "12345"), StorageError);
  EXPECT_FALSE(files.exists("big.png"));

  // Dot segments go out unresolved and are refused, never served from elsewhere.
  EXPECT_THROW(files.download("../" + id + "/ok.png"), StorageError);
  EXPECT_FALSE(files.exists("../" + id + "/ok.png"));
  EXPECT_FALSE(files.exists("folder/"));
  EXPECT_TRUE(files.exists("ok.png"));

  // A body cut short mid-transfer stores nothing.
  storage::MultipartFormData form;
  form.append(std::make_shared<MemoryBodySource>(Data(4096, 'p')), 1 << 20,
              storage::partHeaders("", std::string("cut.png"), std::string("image/png")));
  helpers::HTTPRequest request(
      boost::urls::url(std::string(client->storageURL().buffer()) + "/object/" + id + "/cut.png"),
      HTTPMethod::post, {}, {{HTTPField::Name::contentType, form.contentType()}});
  request.bodyStream = form.encodeStreamed();
  EXPECT_THROW(files.execute(request), storage::MultipartFormDataError);
  EXPECT_FALSE(files.exists("cut.png"));
}

TEST_F(StorageEndToEndTest, AFiftyMegabyteFileGoesUpFromDiskAndComesBackByteForByte) {
  constexpr std::size_t size = 50 * 1024 * 1024;
  const RandomFile file(size);
  StorageFileApi files = newBucket();
  const auto uploaded = files.upload("big/blob.bin", file.url());
  EXPECT_EQ(uploaded.fullPath, files.bucketId() + "/big/blob.bin");
  const Data back = files.download("big/blob.bin");
  ASSERT_EQ(back.size(), size);
  Sha256 digest;
  digest.add(back);
  EXPECT_TRUE(digest.finish() == file.digest());
}

}  // namespace
}  // namespace voduzazi::testing
