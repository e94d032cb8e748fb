#include "voduzazi/functions/function_invoke_options.hpp"

#include <gtest/gtest.h>

#include <map>

namespace voduzazi {
namespace {

struct Unencodable {
  boost::json::value toJSON() const { throw EncodingError({}, "not representable"); }
};

TEST(FunctionInvokeOptions, BodiesCarryTheirOwnContentType) {
  auto text = FunctionInvokeOptions::withBody(std::string("abc"));
  EXPECT_EQ(text.body, "abc");
  EXPECT_EQ(text.headers.get(HTTPField::Name::contentType), "text/plain");

  const Data bytes("\x00\xff\x01", 3);
  auto binary = FunctionInvokeOptions::withBody(BinaryBody{bytes});
  EXPECT_EQ(binary.body, bytes);
  EXPECT_EQ(binary.headers.get(HTTPField::Name::contentType), "application/octet-stream");

  auto json = FunctionInvokeOptions::withBody(std::map<std::string, int>{{"n", 1}});
  EXPECT_EQ(json.body, R"({"n":1})");
  EXPECT_EQ(json.headers.get(HTTPField::Name::contentType), "application/json");
}

TEST(FunctionInvokeOptions, CallerContentTypeReplacesTheDefaultInAnyCase) {
  auto options = FunctionInvokeOptions::withBody("abc", FunctionMethod::put,
                                                 {{"content-type", "text/csv"}, {"x-a", "1"}});
  EXPECT_EQ(options.headers.values(HTTPField::Name::contentType),
            std::vector<std::string>{"text/csv"});
  EXPECT_EQ(options.headers.get(HTTPField::Name("x-a")), "1");
  EXPECT_EQ(options.method, FunctionMethod::put);
}

TEST(FunctionInvokeOptions, UnencodableBodyThrowsInsteadOfBeingDropped) {
  EXPECT_THROW(FunctionInvokeOptions::withBody(Unencodable{}), EncodingError);
}

TEST(FunctionInvokeOptions, WithoutBodyHeadersAreExactlyTheGivenOnes) {
  FunctionInvokeOptions options(FunctionMethod::get, {{"x-a", "1"}}, FunctionRegion::euWest2,
                                {{"q", "v"}});
  EXPECT_EQ(options.headers.size(), 1u);
  EXPECT_FALSE(options.body);
  EXPECT_EQ(options.region, "eu-west-2");
  EXPECT_EQ(options.query, (std::vector<URLQueryItem>{{"q", "v"}}));
  EXPECT_EQ(FunctionInvokeOptions(std::nullopt, {}, "mars-north-1").region, "mars-north-1");
}

TEST(FunctionInvokeOptions, MethodNamesMatchExactly) {
  EXPECT_EQ(functionMethodFromString("GET"), FunctionMethod::get);
  EXPECT_EQ(functionMethodFromString("get"), std::nullopt);
  EXPECT_EQ(functionMethodFromString("DELETE"), FunctionMethod::delete_);
  EXPECT_EQ(toString(FunctionMethod::patch), "PATCH");
}

TEST(FunctionsError, DescribesItsCause) {
  auto http = FunctionsError::httpError(404, "gone");
  EXPECT_STREQ(http.what(), "Edge Function returned a non-2xx status code: 404");
  EXPECT_EQ(http.code(), 404);
  EXPECT_EQ(http.data(), "gone");
  EXPECT_STREQ(FunctionsError::relayError().what(), "Relay Error invoking the Edge Function");
  EXPECT_EQ(FunctionsError::relayError().kind(), FunctionsError::Kind::relayError);
}

}  // namespace
}  // namespace voduzazi
