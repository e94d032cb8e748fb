#include "voduzazi/storage/multipart_form_data.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <unordered_set>

#include "voduzazi/storage/form_data.hpp"

namespace voduzazi::storage {
namespace {

using Reason = MultipartFormDataError::Reason;

std::shared_ptr<const BodySource> memory(const Data& bytes) {
  return std::make_shared<MemoryBodySource>(bytes);
}

void appendText(MultipartFormData& form, std::string_view name, const Data& text) {
  form.append(memory(text), text.size(), partHeaders(name));
}

std::optional<Reason> recordedReason(const MultipartFormData& form) {
  if (!form.bodyPartError()) return std::nullopt;
  return form.bodyPartError()->reason();
}

class TemporaryFolder {
 public:
  TemporaryFolder() { std::filesystem::create_directories(path_); }
  ~TemporaryFolder() { std::filesystem::remove_all(path_); }
  boost::urls::url write(const std::string& name, const Data& content) const {
    std::ofstream(path_ / name, std::ios::binary) << content;
    return url(name);
  }
  boost::urls::url url(const std::string& name) const {
    return boost::urls::url("file://" + (path_ / name).string());
  }
  std::filesystem::path path(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_ =
      std::filesystem::temp_directory_path() / ("multipart-" + std::to_string(::getpid()));
};

TEST(MultipartFormData, BoundariesAreFreshRandomHexAndNamedByTheContentType) {
  const MultipartFormData first;
  const MultipartFormData second;
  EXPECT_NE(first.boundary(), second.boundary());
  EXPECT_TRUE(std::regex_match(first.boundary(), std::regex("voduzazi\\.boundary\\.[0-9a-f]{16}")))
      << first.boundary();
  EXPECT_EQ(first.contentType(), "multipart/form-data; boundary=" + first.boundary());
  MultipartFormData empty("B");
  EXPECT_EQ(empty.encode(), "");
  EXPECT_EQ(empty.contentType(), "multipart/form-data; boundary=B");
}

TEST(MultipartFormData, EncodesOneAndThreePartsByteForByte) {
  MultipartFormData one("B");
  one.append(memory("PNG"), 3, partHeaders("", std::string("a.png"), std::string("image/png")));
  EXPECT_EQ(one.encode(),
            "--B\r\nContent-Disposition: form-data; name=\"\"; filename=\"a.png\"\r\n"
            "Content-Type: image/png\r\n\r\nPNG\r\n--B--\r\n");

  MultipartFormData three("B");
  appendText(three, "a", "1");
  three.append(memory("2"), 1, HTTPFields());  // no headers: content right after one CRLF
  appendText(three, "c", "3");
  EXPECT_EQ(three.encode(),
            "--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1"
            "\r\n--B\r\n\r\n2"
            "\r\n--B\r\nContent-Disposition: form-data; name=\"c\"\r\n\r\n3"
            "\r\n--B--\r\n");
  // The streamed body is the same bytes, with its size known before reading.
  const auto streamed = three.encodeStreamed();
  EXPECT_EQ(streamed->size(), three.encode().size());
  EXPECT_EQ(readAll(*streamed), three.encode());
}

TEST(MultipartFormData, NamesAndFileNamesCannotEndTheirQuotesOrAddHeaderLines) {
  MultipartFormData form("B");
  form.append(memory("x"), 1,
              partHeaders("n\"; evil=\"1", std::string("a\r\nX-Injected: yes\r\n\".png"),
                          std::string("text/plain")));
  const Data body = form.encode();
  EXPECT_NE(body.find("name=\"n%22; evil=%221\"; filename=\"a%0D%0AX-Injected: yes%0D%0A%22.png\""),
            std::string::npos)
      << body;
  EXPECT_EQ(body.find("\r\nX-Injected"), std::string::npos);
}

TEST(MultipartFormData, ContentOfAnotherLengthThanAnnouncedFailsTheRead) {
  for (const std::uint64_t announced : {5u, 1u}) {
    MultipartFormData form("B");
    form.append(memory("abc"), announced, partHeaders("a"));
    try {
      form.encode();
      ADD_FAILURE() << "no error for " << announced;
    } catch (const MultipartFormDataError& error) {
      EXPECT_EQ(error.reason(), Reason::inputStreamReadFailed);
      try {
        std::rethrow_exception(error.underlying());
      } catch (const MultipartFormDataError::UnexpectedInputStreamLength& length) {
        EXPECT_EQ(length.bytesExpected(), announced);
        EXPECT_EQ(length.bytesRead(), 3u);
      }
    }
  }
}

TEST(MultipartFormData, FilePartsAreNamedAndTypedByTheirURLAndReadFromDisk) {
  const TemporaryFolder folder;
  MultipartFormData form("B");
  form.append(folder.write("photo.PNG", "png bytes"), "");
  ASSERT_FALSE(form.bodyPartError());
  EXPECT_EQ(form.encode(),
            "--B\r\nContent-Disposition: form-data; name=\"\"; filename=\"photo.PNG\"\r\n"
            "Content-Type: image/png\r\n\r\npng bytes\r\n--B--\r\n");
  // Read while encoding, not when added.
  std::ofstream(folder.path("photo.PNG"), std::ios::binary) << "PNG BYTES";
  EXPECT_NE(form.encode().find("PNG BYTES"), std::string::npos);
}

TEST(MultipartFormData, KeepsTheFirstFilePartProblemAndThrowsItWhenEncoding) {
  const TemporaryFolder folder;
  folder.write("noextension", "x");
  std::filesystem::create_directories(folder.path("folder.d"));
  const auto firstReason = [&](const boost::urls::url& url) {
    MultipartFormData form("B");
    form.append(url, "");
    return recordedReason(form);
  };
  EXPECT_EQ(firstReason(folder.url("noextension")), Reason::bodyPartFilenameInvalid);
  EXPECT_EQ(firstReason(boost::urls::url("https://example.com/a.png")), Reason::bodyPartURLInvalid);
  EXPECT_EQ(firstReason(folder.url("folder.d")), Reason::bodyPartFileIsDirectory);
  EXPECT_EQ(firstReason(folder.url("missing.png")), Reason::bodyPartFileNotReachable);

  MultipartFormData form("B");
  form.append(folder.url("missing.png"), "");
  form.append(folder.url("folder.d"), "");
  appendText(form, "later", "still added");
  EXPECT_EQ(form.bodyParts().size(), 1u);
  try {
    form.encode();
    ADD_FAILURE() << "no error";
  } catch (const MultipartFormDataError& error) {
    EXPECT_EQ(error.reason(), Reason::bodyPartFileNotReachable);
  }
}

TEST(MultipartFormData, TypesByExtensionAndWritesMetadataAsJSON) {
  EXPECT_EQ(mimeType("png"), "image/png");
  EXPECT_EQ(mimeType("unknownextension"), "application/octet-stream");
  EXPECT_EQ(mimeType(""), "application/octet-stream");
  EXPECT_EQ(encodeMetadata({}), "{}");
  EXPECT_EQ(encodeMetadata({{"a", 1}, {"b", JSONArray{"x", nullptr}}}),
            R"({"a":1,"b":["x",null]})");
  EXPECT_EQ(encodeMetadata({{"bad", std::numeric_limits<double>::quiet_NaN()}}), "{}");
}

TEST(FormData, RendersEachPartWithItsOwnClosingCRLFAndReplacesQuotesInFileNames) {
  FormData form("B");
  EXPECT_EQ(form.data(), "--B--\r\n");
  form.append({.name = "f", .data = "D", .fileName = "a\"b.txt", .contentType = "text/plain"});
  form.append({.name = "g", .data = "E", .fileName = std::nullopt, .contentType = std::nullopt});
  EXPECT_EQ(form.data(),
            "--B\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a_b.txt\"\r\n"
            "Content-Type: text/plain\r\n\r\nD\r\n"
            "--B\r\nContent-Disposition: form-data; name=\"g\"\r\n\r\nE\r\n"
            "--B--\r\n");
  EXPECT_EQ(form.contentType(), "multipart/form-data; boundary=B");
}

TEST(FormData, FilesHashConsistentlyWithEquality) {
  const FormData::File file{.name = "f", .data = "D", .fileName = "a.txt", .contentType = {}};
  FormData::File typed = file;
  typed.contentType = "";  // present, unlike absent
  EXPECT_EQ(std::hash<FormData::File>()(FormData::File(file)), std::hash<FormData::File>()(file));
  EXPECT_EQ((std::unordered_set<FormData::File>{file, file, typed}.size()), 2u);
}

}  // namespace
}  // namespace voduzazi::storage
