// The streaming multipart reader and the storage naming rules, without a server.
#include "local_backend/storage_multipart.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "local_backend/storage_names.hpp"

namespace local_backend {
namespace {

struct Part {
  std::vector<std::pair<std::string, std::string>> headers;
  std::string content;
  bool operator==(const Part&) const = default;
};

class Collector : public MultipartSink {
 public:
  void beginPart(const MultipartHeaders& headers) override {
    parts.push_back(Part{headers.fields, {}});
  }
  void partData(std::string_view bytes) override {
    if (parts.empty()) {
      ADD_FAILURE() << "part data before any part began";
      return;
    }
    parts.back().content.append(bytes);
  }
  void endPart() override { ++ended; }

  std::vector<Part> parts;
  int ended = 0;
};

// Feeds `body` in pieces of `piece` bytes and returns what the sink saw.
std::vector<Part> readInPieces(const std::string& boundary, std::string_view body,
                               std::size_t piece) {
  Collector sink;
  MultipartReader reader(boundary, sink);
  for (std::size_t at = 0; at < body.size(); at += piece) reader.feed(body.substr(at, piece));
  reader.finish();
  EXPECT_EQ(sink.ended, static_cast<int>(sink.parts.size()));
  return sink.parts;
}

constexpr std::string_view kBoundary = "form.boundary.0123456789abcdef";

// The layout uploads arrive in: no trailing CRLF after a part's content, the CRLF belongs to the
// next delimiter.
std::string uploadBody(std::string_view content) {
  const std::string b(kBoundary);
  return "--" + b + "\r\nContent-Disposition: form-data; name=\"cacheControl\"\r\n\r\n3600" +
         "\r\n--" + b + "\r\nContent-Disposition: form-data; name=\"metadata\"\r\n\r\n{}" +
         "\r\n--" + b +
         "\r\nContent-Disposition: form-data; name=\"\"; filename=\"a.png\"\r\n"
         "Content-Type: image/png\r\n\r\n" +
         std::string(content) + "\r\n--" + b + "--\r\n";
}

TEST(MultipartReader, ReadsUploadFormsTheSameWhateverThePieces) {
  // Content that holds most of a delimiter, so a split inside it must not cut it short.
  const std::string content = "bytes\r\n--form.boundary.0123\r\n--x\r\n" + std::string(3000, 'z');
  const std::string body = uploadBody(content);
  const auto whole = readInPieces(std::string(kBoundary), body, body.size());
  ASSERT_EQ(whole.size(), 3u);
  EXPECT_EQ(whole[0].content, "3600");
  EXPECT_EQ(whole[1].content, "{}");
  EXPECT_EQ(whole[2].content, content);
  ASSERT_EQ(whole[2].headers.size(), 2u);
  EXPECT_EQ(whole[2].headers[1],
            (std::pair<std::string, std::string>{"Content-Type", "image/png"}));
  for (const std::size_t piece : {1, 2, 7, 33, 1024}) {
    EXPECT_EQ(readInPieces(std::string(kBoundary), body, piece), whole) << "pieces of " << piece;
  }
}

TEST(MultipartReader, AcceptsPreambleEpilogueEmptyHeadersAndEmptyContent) {
  const std::string b(kBoundary);
  const std::string body = "preamble\r\n--" + b + "\r\n\r\n\r\n--" + b +
                           "  \r\nX: 1\r\n\r\nv\r\n--" + b + "--\r\nepilogue --" + b;
  const auto parts = readInPieces(b, body, 3);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_TRUE(parts[0].headers.empty());
  EXPECT_EQ(parts[0].content, "");
  EXPECT_EQ(parts[1].content, "v");
}

TEST(MultipartReader, RefusesMalformedBodies) {
  const std::string b(kBoundary);
  const auto refused = [&](const std::string& body) {
    Collector sink;
    MultipartReader reader(b, sink);
    try {
      reader.feed(body);
      reader.finish();
    } catch (const MultipartError&) {
      return true;
    }
    return false;
  };
  EXPECT_TRUE(refused("")) << "no delimiter at all";
  EXPECT_TRUE(refused("--" + b + "\r\n\r\ncut short")) << "no closing delimiter";
  EXPECT_TRUE(refused("--" + b + "junk\r\n\r\n\r\n--" + b + "--")) << "text after a delimiter";
  EXPECT_TRUE(refused("--" + b + "\r\nno colon here\r\n\r\nx\r\n--" + b + "--"));
  EXPECT_TRUE(refused("--" + b + "\r\n" + std::string(MultipartReader::kMaxHeaderBytes + 1, 'h')))
      << "headers beyond the limit";
  std::string many;
  for (std::size_t i = 0; i <= MultipartReader::kMaxParts; ++i) many += "--" + b + "\r\n\r\nx\r\n";
  EXPECT_TRUE(refused(many + "--" + b + "--")) << "too many parts";
  EXPECT_FALSE(refused("--" + b + "\r\n\r\nx\r\n--" + b + "--"));
}

TEST(MultipartReader, ReadsBoundariesAndDispositions) {
  EXPECT_EQ(multipartBoundary("multipart/form-data; boundary=abc"), "abc");
  EXPECT_EQ(multipartBoundary("Multipart/Form-Data;boundary=\"a b;c\""), "a b;c");
  EXPECT_EQ(multipartBoundary("multipart/form-data; charset=utf-8; boundary=x"), "x");
  EXPECT_FALSE(multipartBoundary("multipart/form-data"));
  EXPECT_FALSE(multipartBoundary("multipart/form-data; boundary="));
  EXPECT_FALSE(multipartBoundary("multipart/form-data; boundary=" + std::string(71, 'b')));
  EXPECT_FALSE(multipartBoundary("text/plain; boundary=abc"));
  EXPECT_FALSE(multipartBoundary("multipart/form-data; boundary=\"unterminated"));

  MultipartHeaders headers{
      {{"content-disposition", R"(form-data; name="file"; filename="say \"hi\"; now.txt")"}}};
  auto disposition = formDisposition(headers);
  ASSERT_TRUE(disposition);
  EXPECT_EQ(disposition->name, "file");
  EXPECT_EQ(disposition->fileName, "say \"hi\"; now.txt");
  headers.fields[0].second = "form-data; name=cacheControl";
  disposition = formDisposition(headers);
  ASSERT_TRUE(disposition);
  EXPECT_EQ(disposition->name, "cacheControl");
  EXPECT_FALSE(disposition->fileName);
  headers.fields[0].second = "attachment; name=\"x\"";
  EXPECT_FALSE(formDisposition(headers));
  headers.fields[0].second = "form-data; filename=\"x\"";
  EXPECT_FALSE(formDisposition(headers)) << "no field name";
}

TEST(StorageNames, BucketNamesFollowTheRules) {
  for (const char* good : {"avatars", "A-b_c.1", "x"}) EXPECT_TRUE(isValidBucketName(good)) << good;
  const std::vector<std::string> bad{"",
                                     ".hidden",
                                     "..",
                                     "a/b",
                                     "sp ace",
                                     "move",
                                     "public",
                                     "sign",
                                     std::string(101, 'b'),
                                     std::string("a\0b", 3)};
  for (const auto& name : bad) EXPECT_FALSE(isValidBucketName(name)) << name;
}

TEST(StorageNames, ObjectPathsStayInsideTheirBucket) {
  for (const char* good : {"a.png", "folder/a b.png", "x/y/z", "ü/ñ.txt", "..a/b..", ".hidden"}) {
    EXPECT_TRUE(isValidObjectPath(good)) << good;
  }
  const std::vector<std::string> bad{"",
                                     "/a",
                                     "a/",
                                     "a//b",
                                     "..",
                                     "a/../b",
                                     "./a",
                                     "a/.",
                                     std::string("a\0b", 3),
                                     "a\nb",
                                     "a\\..\\b",
                                     "\xff",
                                     std::string(1025, 'p')};
  for (const auto& path : bad) EXPECT_FALSE(isValidObjectPath(path)) << path;
}

}  // namespace
}  // namespace local_backend
