#include "voduzazi/helpers/http_error.hpp"

#include <gtest/gtest.h>

#include "voduzazi/helpers/any_json.hpp"

namespace voduzazi {
namespace {

std::shared_ptr<HTTPURLResponse> status(int code) {
  return std::make_shared<HTTPURLResponse>(boost::urls::url("https://e.com"), code,
                                           HeaderFieldList{});
}

TEST(HTTPError, DescribesStatusAndUTF8Body) {
  EXPECT_STREQ(HTTPError(R"({"error":"x"})", status(404)).what(),
               R"(Status Code: 404 Body: {"error":"x"})");
  EXPECT_STREQ(HTTPError("\xc3\x28", status(500)).what(), "Status Code: 500");
  EXPECT_STREQ(HTTPError("", status(204)).what(), "Status Code: 204 Body: ");
}

TEST(PostgrestError, DecodesItsFourKeysAndIgnoresOthers) {
  const auto error = AnyJSON::decoder()->decode<PostgrestError>(
      R"({"code":"42501","message":"denied","extra":1})");
  EXPECT_EQ(error.code(), "42501");
  EXPECT_EQ(error.message(), "denied");
  EXPECT_FALSE(error.detail());
  EXPECT_FALSE(error.hint());
  EXPECT_STREQ(error.what(), "denied");
  EXPECT_THROW(AnyJSON::decoder()->decode<PostgrestError>(R"({"code":"1"})"), DecodingError);
  EXPECT_THROW(AnyJSON::decoder()->decode<PostgrestError>(R"({"message":1})"), DecodingError);
  EXPECT_EQ(AnyJSON::encoder()->encode(PostgrestError({}, {}, {}, "only")),
            R"({"message":"only"})");
  EXPECT_EQ(AnyJSON::decoder()->decode<PostgrestError>(R"({"message":"only","hint":null})"),
            PostgrestError({}, {}, {}, "only"));
  EXPECT_NE(PostgrestError({}, {}, "1", "only"), PostgrestError({}, {}, {}, "only"));
}

}  // namespace
}  // namespace voduzazi
