#include <gtest/gtest.h>

#include "voduzazi/http_types/http_fields.hpp"
#include "voduzazi/http_types/http_request.hpp"
#include "voduzazi/http_types/http_response.hpp"
#include "voduzazi/http_types/parsing_error.hpp"

namespace voduzazi::http_types {
namespace {

using Code = ParsingError::Code;
using Fields = std::vector<HTTPField>;

HTTPField field(std::string_view name, std::string_view value) {
  return HTTPField(*HTTPField::Name::fromParsed(name), value);
}

template <class Build>
Code failure(Build build) {
  try {
    build();
  } catch (const ParsingError& error) {
    return error.code();
  }
  ADD_FAILURE() << "no ParsingError";
  return Code::invalidName;
}

Code requestFailure(const Fields& fields) {
  return failure([&] { HTTPRequest::parsed(fields); });
}

Code responseFailure(const Fields& fields) {
  return failure([&] { HTTPResponse::parsed(fields); });
}

Code trailerFailure(const Fields& fields) {
  return failure([&] { HTTPFields::parsedTrailerFields(fields); });
}

TEST(HTTPParsedFields, BuildsARequest) {
  const HTTPRequest request = HTTPRequest::parsed(
      Fields{field(":method", "GET"), field(":path", "/"), field("accept", "x")});
  EXPECT_EQ(request.method(), HTTPRequest::Method::get);
  EXPECT_EQ(request.path(), "/");
  EXPECT_FALSE(request.scheme().has_value());
  EXPECT_FALSE(request.authority().has_value());
  EXPECT_EQ(request.headerFields.size(), 1U);
}

TEST(HTTPParsedFields, KeepsStoredValuesButNotTheWireStrategy) {
  HTTPField path = HTTPField::withLenientValue(*HTTPField::Name::fromParsed(":path"), " /a\x01");
  path.setIndexingStrategy(HTTPField::DynamicTableIndexingStrategy::disallow);
  const HTTPRequest request = HTTPRequest::parsed(Fields{field(":method", "GET"), path});
  path.setIndexingStrategy(HTTPField::DynamicTableIndexingStrategy::automatic);
  EXPECT_EQ(request.pseudoHeaderFields.path(), path);
}

TEST(HTTPParsedFields, RefusesMisplacedOrUnknownPseudoHeaderFields) {
  EXPECT_EQ(requestFailure({field(":method", "GET"), field("host", "a"), field(":path", "/")}),
            Code::pseudoNotFirst);
  EXPECT_EQ(requestFailure({field(":method", "GET"), field(":method", "POST")}),
            Code::multiplePseudo);
  EXPECT_EQ(requestFailure({field(":method", "GET"), field(":other", "x")}),
            Code::invalidPseudoName);
}

TEST(HTTPParsedFields, RefusesBrokenRequests) {
  EXPECT_EQ(requestFailure({field(":path", "/")}), Code::requestWithoutMethod);
  EXPECT_EQ(requestFailure({field(":method", "")}), Code::invalidMethod);
  EXPECT_EQ(requestFailure({field(":method", "G T")}), Code::invalidMethod);
  EXPECT_EQ(requestFailure({field(":method", "GET"), field(":status", "200")}),
            Code::requestWithResponsePseudo);
}

TEST(HTTPParsedFields, BuildsAResponse) {
  const HTTPResponse response = HTTPResponse::parsed(Fields{field(":status", "200")});
  EXPECT_EQ(response.status().code(), 200);
  EXPECT_EQ(response.status().reasonPhrase(), "");
}

TEST(HTTPParsedFields, RefusesBrokenResponses) {
  EXPECT_EQ(responseFailure({}), Code::responseWithoutStatus);
  for (const char* status : {"20", "2000", "20a"}) {
    EXPECT_EQ(responseFailure({field(":status", status)}), Code::invalidStatus) << status;
  }
  EXPECT_EQ(responseFailure({field(":status", "200"), field(":path", "/")}),
            Code::responseWithRequestPseudo);
}

TEST(HTTPParsedFields, RefusesConflictingRepeatedFields) {
  EXPECT_NO_THROW(HTTPResponse::parsed(Fields{
      field(":status", "200"), field("content-length", "10"), field("content-length", "10")}));
  EXPECT_EQ(responseFailure({field(":status", "200"), field("content-length", "10"),
                             field("content-length", "11")}),
            Code::multipleContentLength);
  EXPECT_EQ(trailerFailure({field("content-disposition", "a"), field("content-disposition", "b")}),
            Code::multipleContentDisposition);
  EXPECT_EQ(
      requestFailure({field(":method", "GET"), field("location", "/a"), field("location", "/b")}),
      Code::multipleLocation);
}

TEST(HTTPParsedFields, TrailerFieldsHoldNoPseudoHeaderFields) {
  EXPECT_EQ(HTTPFields::parsedTrailerFields(Fields{field("x", "1")}).get(HTTPField::Name("x")),
            "1");
  EXPECT_EQ(trailerFailure({field(":path", "/")}), Code::trailerFieldsWithPseudo);
  EXPECT_EQ(trailerFailure({field("x", "1"), field(":path", "/")}), Code::pseudoNotFirst);
}

}  // namespace
}  // namespace voduzazi::http_types
