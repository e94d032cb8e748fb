#include "voduzazi/helpers/http_request.hpp"

#include <gtest/gtest.h>

#include "voduzazi/helpers/any_json.hpp"

namespace voduzazi {
namespace {

using helpers::HTTPRequest;
using helpers::HTTPResponse;

boost::urls::url url(std::string_view text) { return boost::urls::url(text); }

TEST(HTTPRequest, DefaultsToNoQueryNoHeadersAndSixtySeconds) {
  const HTTPRequest request(url("https://example.com/a"), HTTPMethod::get);
  EXPECT_TRUE(request.query.empty());
  EXPECT_TRUE(request.headers.empty());
  EXPECT_FALSE(request.body);
  EXPECT_EQ(request.timeoutInterval, 60);
  EXPECT_EQ(request.urlRequest().timeoutInterval, 60);
}

TEST(HTTPRequest, MakeRefusesTextThatIsNotAURL) {
  EXPECT_TRUE(HTTPRequest::make("https://example.com/a?b=c", HTTPMethod::get));
  EXPECT_FALSE(HTTPRequest::make("http://exa mple.com", HTTPMethod::get));
}

TEST(HTTPRequest, AppendsEscapedQueryItemsAfterTheExistingQuery) {
  const HTTPRequest request(url("https://example.com/rest?a=1"), HTTPMethod::get,
                            {{"b", "x y"}, {"c", std::nullopt}});
  EXPECT_EQ(request.urlRequest().url.buffer(), "https://example.com/rest?a=1&b=x%20y&c");
  EXPECT_EQ(request.url.buffer(), "https://example.com/rest?a=1");
}

TEST(QueryItems, SeparateEveryItemEvenAfterOneThatWritesNothing) {
  EXPECT_EQ(appendingQueryItems(url("https://h/p"), {{"", std::nullopt}, {"a", "1"}}).buffer(),
            "https://h/p?&a=1");
  EXPECT_EQ(appendingQueryItems(url("https://h/p?"), {{"a", "1"}, {"", ""}}).buffer(),
            "https://h/p?a=1&=");
  EXPECT_EQ(appendingQueryItems(url("https://h/p"), {}).buffer(), "https://h/p");
}

TEST(QueryItems, EscapeEverythingButLettersDigitsAndFewMarks) {
  EXPECT_EQ(escapeQueryValue("eq.5"), "eq.5");
  EXPECT_EQ(escapeQueryValue("a/b?c"), "a/b?c");
  EXPECT_EQ(escapeQueryValue("(a,b)"), "%28a%2Cb%29");
  EXPECT_EQ(escapeQueryValue("*"), "%2A");
  EXPECT_EQ(escapeQueryValue("\xC3\xA9"), "%C3%A9");
  EXPECT_EQ(escapeQueryValue("a&b=c+d%:@"), "a%26b%3Dc%2Bd%25%3A%40");
}

TEST(QueryItems, AppendOrUpdateReplacesTheFirstItemOfTheName) {
  std::vector<URLQueryItem> items{{"select", "*"}, {"order", "id"}};
  appendOrUpdate(items, {"select", "id"});
  EXPECT_EQ(items, (std::vector<URLQueryItem>{{"select", "id"}, {"order", "id"}}));
  appendOrUpdate(items, {"Select", "x"});
  EXPECT_EQ(items.size(), 3u);
  EXPECT_EQ(appendingQueryItems(url("https://e.com/"), {}).buffer(), "https://e.com/");
}

TEST(HTTPRequest, SetsJSONContentTypeOnlyForBodiesWithoutOne) {
  HTTPRequest request(url("https://example.com"), HTTPMethod::post, {}, {}, Data("{}"));
  EXPECT_EQ(request.urlRequest().value("content-type"), "application/json");

  request.headers.append(HTTPField(HTTPField::Name("content-type"), "text/plain"));
  EXPECT_EQ(request.urlRequest().value("Content-Type"), "text/plain");

  const HTTPRequest bodiless(url("https://example.com"), HTTPMethod::get);
  EXPECT_FALSE(bodiless.urlRequest().value("Content-Type"));
}

TEST(HTTPRequest, SendsEveryFieldOfARepeatedName) {
  HTTPRequest request(url("https://example.com"), HTTPMethod::get);
  request.headers.append(HTTPField(HTTPField::Name("X-Tag"), "1"));
  request.headers.append(HTTPField(HTTPField::Name("X-Tag"), "2"));
  const URLRequest wire = request.urlRequest();
  EXPECT_EQ(wire.headerFields, (HeaderFieldList{{"X-Tag", "1"}, {"X-Tag", "2"}}));
  EXPECT_EQ(wire.value("x-tag"), "1, 2");
  EXPECT_EQ(dictionary(request.headers), (HeaderDictionary{{"X-Tag", "1, 2"}}));
}

TEST(HTTPFieldsHelpers, AppendOrUpdateEditsOneKeyOfAList) {
  const HTTPField::Name prefer("Prefer");
  HTTPFields fields;
  appendOrUpdate(fields, prefer, "return=minimal");
  EXPECT_EQ(fields.get(prefer), "return=minimal");

  fields.set(prefer, "return=minimal,count=exact");
  appendOrUpdate(fields, prefer, "count=planned");
  EXPECT_EQ(fields.get(prefer), "return=minimal,count=planned");
  appendOrUpdate(fields, prefer, "missing=null");
  EXPECT_EQ(fields.get(prefer), "return=minimal,count=planned,missing=null");

  fields.set(prefer, "return=minimal, count=exact");
  appendOrUpdate(fields, prefer, "count=planned");
  EXPECT_EQ(fields.get(prefer), "return=minimal, count=exact,count=planned");
  EXPECT_EQ(fields.values(prefer).size(), 1u);
}

TEST(HTTPFieldsHelpers, MergingLetsTheOtherSideWinPerName) {
  const HTTPFields left = makeHTTPFields({{"A", "1"}, {"B", "2"}});
  const HTTPFields right = makeHTTPFields({{"a", "3"}});
  const HTTPFields merged = merging(left, right);
  EXPECT_EQ(merged.values(HTTPField::Name("A")), std::vector<std::string>{"3"});
  EXPECT_EQ(merged.get(HTTPField::Name("B")), "2");
  EXPECT_EQ(merging(left, HTTPFields()), left);
  EXPECT_THROW(makeHTTPFields({{"bad name", "x"}}), http_types::InvalidFieldNameError);
}

TEST(HTTPFieldsHelpers, MergingIntoItselfKeepsOneFieldPerName) {
  HTTPFields fields = makeHTTPFields({{"A", "1"}, {"a", "2"}, {"B", "3"}});
  merge(fields, fields);
  EXPECT_EQ(fields.values(HTTPField::Name("A")), std::vector<std::string>{"2"});
  EXPECT_EQ(fields.get(HTTPField::Name("B")), "3");
}

TEST(HTTPResponse, KeepsResponseFieldsInWireOrderWithRepeats) {
  auto underlying = std::make_shared<HTTPURLResponse>(
      url("https://example.com"), 201,
      HeaderFieldList{{"Link", "<a>; rel=next"}, {"Bad Name", "x"}, {"link", "<b>; rel=last"}});
  const HTTPResponse response("{}", underlying);
  EXPECT_EQ(response.statusCode(), 201);
  EXPECT_EQ(response.headers().values(HTTPField::Name("link")),
            (std::vector<std::string>{"<a>; rel=next", "<b>; rel=last"}));
  EXPECT_EQ(response.headers().size(), 2u);
  EXPECT_EQ(response.underlyingResponse(), underlying);
  EXPECT_EQ(response.decoded<AnyJSON>(), AnyJSON(JSONObject{}));
  EXPECT_THROW(HTTPResponse("nope", underlying).decoded<AnyJSON>(), DecodingError);
}

TEST(FieldNames, SDKHeaderNamesHaveTheirTexts) {
  EXPECT_EQ(field_names::xClientInfo.rawName(), "X-Client-Info");
  EXPECT_EQ(field_names::xRegion.rawName(), "x-region");
  EXPECT_EQ(field_names::xRelayError.rawName(), "x-relay-error");
}

}  // namespace
}  // namespace voduzazi
