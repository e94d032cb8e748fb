#include "voduzazi/http_types/http_response.hpp"

#include <gtest/gtest.h>

#include <boost/json.hpp>

namespace voduzazi::http_types {
namespace {

using Status = HTTPResponse::Status;
using Kind = Status::Kind;
using Name = HTTPField::Name;

std::string pseudoFieldsFailure(std::string_view json) {
  try {
    HTTPResponse::PseudoHeaderFields::fromJSON(boost::json::parse(json));
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    return error.what();
  }
  ADD_FAILURE() << "decoded " << json;
  return {};
}

HTTPField statusField(std::string_view value) {
  return HTTPField(*Name::fromParsed(":status"), value);
}

TEST(HTTPResponseStatus, ComparesAndHashesByCodeOnly) {
  const Status bare(404);
  EXPECT_EQ(bare.reasonPhrase(), "");
  EXPECT_EQ(bare, Status::notFound);
  EXPECT_EQ(bare.hashValue(), Status::notFound.hashValue());
  EXPECT_EQ(bare.description(), "404 ");
  EXPECT_EQ(Status(200, "OK"), Status(200));
  EXPECT_EQ(Status::ok.description(), "200 OK");
}

TEST(HTTPResponseStatus, ConstantsCarryTheirPhrases) {
  EXPECT_EQ(Status::continue_.code(), 100);
  EXPECT_EQ(Status::continue_.reasonPhrase(), "Continue");
  EXPECT_EQ(Status::nonAuthoritativeInformation.reasonPhrase(), "Non-Authoritative Information");
  EXPECT_EQ(Status::contentTooLarge.code(), 413);
  EXPECT_EQ(Status::networkAuthenticationRequired.description(),
            "511 Network Authentication Required");
}

TEST(HTTPResponseStatus, KindFollowsTheCodeRange) {
  const std::pair<int, Kind> cases[] = {
      {0, Kind::invalid},         {99, Kind::invalid},      {100, Kind::informational},
      {199, Kind::informational}, {200, Kind::successful},  {302, Kind::redirection},
      {404, Kind::clientError},   {599, Kind::serverError}, {600, Kind::invalid},
      {999, Kind::invalid},
  };
  for (const auto& [code, kind] : cases) EXPECT_EQ(Status(code).kind(), kind) << code;
}

TEST(HTTPResponseStatus, RepairsOnlyPhrasesHoldingControlCharacters) {
  // U+0100 (0xC4 0x80) survives in a clean phrase but becomes a space beside a line feed.
  EXPECT_EQ(Status(200, "Fine \xC4\x80").reasonPhrase(), "Fine \xC4\x80");
  EXPECT_EQ(Status(200, "Bad\nPhrase \xC4\x80").reasonPhrase(), "Bad Phrase  ");
  EXPECT_EQ(Status(200, "Tab\tkept \xC3\xA9\x7F").reasonPhrase(), "Tab\tkept \xC3\xA9 ");
}

TEST(HTTPResponseStatusDeathTest, StopsOnCodesOutsideThreeDigits) {
  EXPECT_DEATH(Status(1000), "status code");
  EXPECT_DEATH(Status(-1, "x"), "status code");
}

TEST(HTTPResponse, StoresTheCodeAsThreeDigits) {
  const HTTPResponse response(Status(7, "Odd"));
  EXPECT_EQ(response.pseudoHeaderFields.status().value(), "007");
  EXPECT_EQ(response.status().code(), 7);
  EXPECT_EQ(response.status().reasonPhrase(), "Odd");
  EXPECT_EQ(response.debugDescription(), "7 Odd");
}

TEST(HTTPResponse, SettingTheStatusOfACopyLeavesTheOriginal) {
  const HTTPResponse original(Status::ok);
  HTTPResponse copy = original;
  copy.setStatus(Status::created);
  EXPECT_EQ(original.status().code(), 200);
  EXPECT_EQ(original.status().reasonPhrase(), "OK");
  EXPECT_EQ(copy.status().code(), 201);
  EXPECT_EQ(copy.status().reasonPhrase(), "Created");
}

TEST(HTTPResponse, EqualityIgnoresTheReasonPhrase) {
  const HTTPResponse a(Status(200, "OK"), HTTPFields{{Name::server, "s"}});
  const HTTPResponse b(Status(200, "Fine"), HTTPFields{{Name::server, "s"}});
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.hashValue(), b.hashValue());
  EXPECT_NE(a, HTTPResponse(Status(200, "OK")));
}

TEST(HTTPResponseDeathTest, StatusFieldMustHoldThreeDigits) {
  HTTPResponse response(Status::ok);
  for (const char* value : {"20", "2000", "2x0"}) {
    EXPECT_DEATH(response.pseudoHeaderFields.setStatus(statusField(value)), "three digits");
  }
  EXPECT_DEATH(response.pseudoHeaderFields.setStatus(HTTPField(Name::server, "200")),
               "three digits");
}

TEST(HTTPResponseCoding, RoundTripsStatusPhraseAndHeaders) {
  const HTTPResponse response(Status::notFound, HTTPFields{{Name::contentLength, "0"}});
  const auto json = response.toJSON();
  EXPECT_EQ(boost::json::serialize(json),
            R"({"pseudoHeaderFields":[{"name":":status","value":"404"}],)"
            R"("reasonPhrase":"Not Found",)"
            R"("headerFields":[{"name":"Content-Length","value":"0"}]})");
  const HTTPResponse decoded = HTTPResponse::fromJSON(json);
  EXPECT_EQ(decoded, response);
  EXPECT_EQ(decoded.status().reasonPhrase(), "Not Found");
}

TEST(HTTPResponseCoding, DecodingNamesEachBrokenPseudoHeaderList) {
  EXPECT_EQ(pseudoFieldsFailure("[]"), "\":status\" pseudo header field is missing");
  EXPECT_EQ(pseudoFieldsFailure(R"([{"name":":status","value":"200"},
                                    {"name":":status","value":"201"}])"),
            "Multiple \":status\" pseudo header fields");
  EXPECT_EQ(pseudoFieldsFailure(R"([{"name":":status","value":"20"}])"),
            "\"20\" is not a valid status code");
  EXPECT_EQ(pseudoFieldsFailure(R"([{"name":"server","value":"s"}])"),
            "\"server: s\" is not a pseudo header field");
}

TEST(HTTPResponseCoding, DropsRequestPseudoHeaderFields) {
  const auto fields = HTTPResponse::PseudoHeaderFields::fromJSON(
      boost::json::parse(R"([{"name":":method","value":"GET"},{"name":":status","value":"204"}])"));
  EXPECT_EQ(fields.status().value(), "204");
}

TEST(HTTPResponseCoding, RefusesReasonPhrasesWithControlCharacters) {
  try {
    HTTPResponse::fromJSON(
        boost::json::parse(R"({"pseudoHeaderFields":[{"name":":status","value":"200"}],)"
                           R"("reasonPhrase":"O\rK","headerFields":[]})"));
    FAIL();
  } catch (const HTTPResponse::DecodingError& error) {
    EXPECT_EQ(error.code(), HTTPResponse::DecodingError::Code::invalidReasonPhrase);
    EXPECT_EQ(error.reasonPhrase(), "O\rK");
    EXPECT_EQ(error.codingPath(), CodingPath{"reasonPhrase"});
  }
}

TEST(HTTPResponseCoding, RequiresTheReasonPhrase) {
  try {
    HTTPResponse::fromJSON(boost::json::parse(
        R"({"pseudoHeaderFields":[{"name":":status","value":"200"}],"headerFields":[]})"));
    FAIL();
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.kind(), DecodingError::Kind::keyNotFound);
    EXPECT_STREQ(error.what(), "No value associated with key \"reasonPhrase\".");
  }
}

}  // namespace
}  // namespace voduzazi::http_types
