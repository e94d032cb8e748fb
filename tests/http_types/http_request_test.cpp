#include "voduzazi/http_types/http_request.hpp"

#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <unordered_set>

namespace voduzazi::http_types {
namespace {

using Method = HTTPRequest::Method;
using Name = HTTPField::Name;

std::string pseudoFieldsFailure(std::string_view json) {
  try {
    HTTPRequest::PseudoHeaderFields::fromJSON(boost::json::parse(json));
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    return error.what();
  }
  ADD_FAILURE() << "decoded " << json;
  return {};
}

TEST(HTTPRequestMethod, AcceptsNonEmptyTokensAsGiven) {
  EXPECT_EQ(Method::fromRawValue("GET"), Method::get);
  EXPECT_EQ(Method::fromRawValue("M-SEARCH")->rawValue(), "M-SEARCH");
  EXPECT_EQ(Method::fromRawValue("PROPFIND")->description(), "PROPFIND");
  EXPECT_EQ(Method::patch.rawValue(), "PATCH");
  EXPECT_EQ(Method::delete_.rawValue(), "DELETE");
  for (const char* text : {"", " GET", "GET ", "G ET", "GET/", "GET\r", "GET{", "G\xC3\x89T"}) {
    EXPECT_FALSE(Method::fromRawValue(text).has_value()) << text;
  }
}

TEST(HTTPRequestMethod, ComparesCaseSensitively) {
  const auto lower = Method::fromRawValue("get");
  ASSERT_TRUE(lower.has_value());
  EXPECT_NE(*lower, Method::get);
  const std::unordered_set<Method> retryable{Method::get, Method::head};
  EXPECT_FALSE(retryable.contains(*lower));
  EXPECT_TRUE(retryable.contains(*Method::fromRawValue("HEAD")));
}

TEST(HTTPRequest, DebugDescriptionLeavesOutAbsentParts) {
  EXPECT_EQ(HTTPRequest(Method::post, std::nullopt, std::nullopt, std::nullopt).debugDescription(),
            "(POST) ");
  HTTPRequest request(Method::get, "https", "example.com", "/items?a=1");
  EXPECT_EQ(request.debugDescription(), "(GET) https://example.com/items?a=1");
  request.setScheme(std::nullopt);
  EXPECT_EQ(request.debugDescription(), "(GET) example.com/items?a=1");
}

TEST(HTTPRequest, AccessorsReadAndWriteThePseudoHeaderFields) {
  HTTPRequest request(Method::get, std::nullopt, "a", std::nullopt);
  EXPECT_FALSE(request.scheme().has_value());
  EXPECT_EQ(request.authority(), "a");
  request.setMethod(Method::put);
  request.setPath(" /p\n");
  request.setExtendedConnectProtocol("websocket");
  EXPECT_EQ(request.method(), Method::put);
  EXPECT_EQ(request.pseudoHeaderFields.method().description(), ":method: PUT");
  EXPECT_EQ(request.path(), "/p");
  EXPECT_EQ(request.pseudoHeaderFields.extendedConnectProtocol()->name().rawName(), ":protocol");
}

TEST(HTTPRequest, ChangingACopyLeavesTheOriginalUntouched) {
  const HTTPRequest original(Method::get, "https", "a", "/one");
  HTTPRequest copy = original;
  copy.setPath("/two");
  EXPECT_EQ(original.path(), "/one");
  EXPECT_NE(copy, original);
}

TEST(HTTPRequest, SettingTextKeepsAPresentFieldsStrategy) {
  using Strategy = HTTPField::DynamicTableIndexingStrategy;
  HTTPRequest request(Method::get, "https", std::nullopt, std::nullopt);
  HTTPField scheme = *request.pseudoHeaderFields.scheme();
  scheme.setIndexingStrategy(Strategy::disallow);
  request.pseudoHeaderFields.setScheme(scheme);

  request.setScheme("http");
  EXPECT_EQ(request.pseudoHeaderFields.scheme()->indexingStrategy(), Strategy::disallow);
  request.setScheme(std::nullopt);
  request.setScheme("http");
  EXPECT_EQ(request.pseudoHeaderFields.scheme()->indexingStrategy(), Strategy::automatic);
}

TEST(HTTPRequest, EqualityCountsStrategiesAndHeaderFields) {
  const HTTPRequest plain(Method::get, "https", "a", "/");
  HTTPRequest other = plain;
  EXPECT_EQ(plain, other);
  EXPECT_EQ(plain.hashValue(), other.hashValue());
  HTTPField path = *other.pseudoHeaderFields.path();
  path.setIndexingStrategy(HTTPField::DynamicTableIndexingStrategy::prefer);
  other.pseudoHeaderFields.setPath(path);
  EXPECT_NE(plain, other);

  HTTPRequest withHeader = plain;
  withHeader.headerFields.set(Name::accept, "x");
  EXPECT_NE(plain, withHeader);
}

TEST(HTTPRequestDeathTest, PseudoHeaderSettersCheckNamesAndMethod) {
  HTTPRequest request(Method::get, std::nullopt, std::nullopt, std::nullopt);
  EXPECT_DEATH(request.pseudoHeaderFields.setMethod(HTTPField(*Name::fromParsed(":path"), "GET")),
               "method");
  EXPECT_DEATH(request.pseudoHeaderFields.setMethod(HTTPField(*Name::fromParsed(":method"), "G T")),
               "method");
  EXPECT_DEATH(request.pseudoHeaderFields.setPath(HTTPField(*Name::fromParsed(":scheme"), "/")),
               "another name");
}

TEST(HTTPRequestCoding, RoundTripsPseudoAndHeaderFields) {
  HTTPRequest request(Method::patch, "https", "example.com", "/rows",
                      HTTPFields{{Name::contentType, "application/json"}});
  request.setExtendedConnectProtocol("websocket");
  const auto json = request.toJSON();
  EXPECT_EQ(boost::json::serialize(json.at("pseudoHeaderFields").as_array()[0]),
            R"({"name":":method","value":"PATCH"})");
  const HTTPRequest decoded = HTTPRequest::fromJSON(json);
  EXPECT_EQ(decoded, request);
  EXPECT_EQ(decoded.debugDescription(), request.debugDescription());
  EXPECT_EQ(decoded.extendedConnectProtocol(), "websocket");
}

TEST(HTTPRequestCoding, DecodingNamesEachBrokenPseudoHeaderList) {
  EXPECT_EQ(pseudoFieldsFailure("[]"), "\":method\" pseudo header field is missing");
  for (const std::string name : {":method", ":scheme", ":authority", ":path", ":protocol"}) {
    const std::string repeated = R"({"name":")" + name + R"(","value":"x"})";
    EXPECT_EQ(pseudoFieldsFailure(R"([{"name":":method","value":"GET"},)" + repeated + "," +
                                  repeated + "]"),
              "Multiple \"" + name + "\" pseudo header fields");
  }
  EXPECT_EQ(pseudoFieldsFailure(R"([{"name":":method","value":"GET"},
                                    {"name":"content-type","value":"text/plain"}])"),
            "\"content-type: text/plain\" is not a pseudo header field");
  EXPECT_EQ(pseudoFieldsFailure(R"([{"name":":method","value":"G T"}])"),
            "\"G T\" is not a valid method");
  EXPECT_EQ(pseudoFieldsFailure(R"([{"name":":method","value":""}])"),
            "\"\" is not a valid method");
}

TEST(HTTPRequestCoding, DropsResponsePseudoHeaderFields) {
  const auto fields = HTTPRequest::PseudoHeaderFields::fromJSON(
      boost::json::parse(R"([{"name":":status","value":"200"},{"name":":method","value":"GET"}])"));
  EXPECT_EQ(fields.toJSON(), boost::json::parse(R"([{"name":":method","value":"GET"}])"));
}

TEST(HTTPRequestCoding, RequiresBothKeys) {
  try {
    HTTPRequest::fromJSON(boost::json::parse(R"({"pseudoHeaderFields":[
        {"name":":method","value":"GET"}]})"));
    FAIL();
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.kind(), DecodingError::Kind::keyNotFound);
    EXPECT_EQ(error.codingPath(), CodingPath{"headerFields"});
  }
}

}  // namespace
}  // namespace voduzazi::http_types
