#include "voduzazi/http_types/http_field.hpp"

#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <unordered_set>

namespace voduzazi::http_types {
namespace {

using Name = HTTPField::Name;
using Strategy = HTTPField::DynamicTableIndexingStrategy;

std::string octetsOf(const HTTPField& field) {
  return field.withUnsafeBytesOfValue([](std::string_view octets) { return std::string(octets); });
}

// Decodes `json` as a field and returns the failure's message and coding path.
std::pair<std::string, CodingPath> decodingFailure(std::string_view json) {
  try {
    HTTPField::fromJSON(boost::json::parse(json));
  } catch (const DecodingError& error) {
    return {error.what(), error.codingPath()};
  }
  ADD_FAILURE() << "decoded " << json;
  return {};
}

TEST(HTTPFieldName, KeepsRawNameAndLowersCanonicalName) {
  const Name name("Content-Type");
  EXPECT_EQ(name.rawName(), "Content-Type");
  EXPECT_EQ(name.canonicalName(), "content-type");
  EXPECT_EQ(name.description(), "Content-Type");
}

TEST(HTTPFieldName, RefusesEmptyAndNonTokenNames) {
  for (const char* text : {"", "Content Type", ":path", "caf\xC3\xA9", "a\r\nb", "x/y"}) {
    EXPECT_FALSE(Name::fromString(text).has_value()) << text;
    EXPECT_THROW(Name{text}, InvalidFieldNameError) << text;
  }
  EXPECT_TRUE(Name::fromString("!#$%&'*+-.^_`|~09azAZ").has_value());
}

TEST(HTTPFieldName, InvalidNameErrorQuotesTheName) {
  try {
    Name("bad name");
    FAIL();
  } catch (const InvalidFieldNameError& error) {
    EXPECT_STREQ(error.what(), "HTTP field name \"bad name\" contains invalid characters");
    EXPECT_EQ(error.name(), "bad name");
  }
}

TEST(HTTPFieldName, ParsedNamesAllowOneLeadingColonAndNoUpperCase) {
  const auto path = Name::fromParsed(":path");
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(path->rawName(), ":path");
  EXPECT_EQ(path->canonicalName(), ":path");
  EXPECT_TRUE(Name::fromParsed("content-type").has_value());
  EXPECT_TRUE(Name::fromParsed(":").has_value());
  EXPECT_FALSE(Name::fromParsed("Content-Type").has_value());
  EXPECT_FALSE(Name::fromParsed("::path").has_value());
  EXPECT_FALSE(Name::fromParsed("").has_value());
}

TEST(HTTPFieldName, ComparesAndHashesByCanonicalName) {
  EXPECT_EQ(Name("Accept"), Name("accept"));
  EXPECT_EQ(Name("Accept").hashValue(), Name("accept").hashValue());
  EXPECT_NE(Name("Accept"), Name("Accept-Encoding"));
  std::unordered_set<Name> names{Name::accept};
  EXPECT_TRUE(names.contains(Name("ACCEPT")));
}

TEST(HTTPFieldName, WellKnownNamesKeepTheirLetterCase) {
  EXPECT_EQ(Name::accept.rawName(), "Accept");
  EXPECT_EQ(Name::eTag.rawName(), "ETag");
  EXPECT_EQ(Name::te.rawName(), "TE");
  EXPECT_EQ(Name::wwwAuthenticate.canonicalName(), "www-authenticate");
  EXPECT_EQ(Name::contentSecurityPolicyReportOnly.rawName(), "Content-Security-Policy-Report-Only");
  EXPECT_EQ(Name::xContentTypeOptions.canonicalName(), "x-content-type-options");
}

TEST(HTTPFieldName, DecodingChecksPseudoAndRegularNames) {
  const auto decode = [](const char* text) { return Name::fromJSON(boost::json::string(text)); };
  EXPECT_EQ(decode("Content-Type").rawName(), "Content-Type");
  EXPECT_EQ(decode(":path").canonicalName(), ":path");
  for (const char* pseudo : {":", ":Path", ":a b"}) {
    try {
      decode(pseudo);
      ADD_FAILURE() << pseudo;
    } catch (const DecodingError& error) {
      EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
      EXPECT_EQ(std::string(error.what()), std::string("HTTP pseudo field name \"") + pseudo +
                                               "\" contains invalid characters");
    }
  }
  try {
    decode("a b");
    ADD_FAILURE();
  } catch (const DecodingError& error) {
    EXPECT_STREQ(error.what(), "HTTP field name \"a b\" contains invalid characters");
  }
}

TEST(HTTPField, StrictCleaningRepairsInvalidValues) {
  const auto stored = [](std::string_view value) {
    return octetsOf(HTTPField(Name::accept, value));
  };
  EXPECT_EQ(stored(" a "), "a");
  EXPECT_EQ(stored("a\r\nb"), "a  b");
  EXPECT_EQ(stored("\x7Fx"), "x");
  EXPECT_EQ(stored(std::string("\x01\x02\x00", 3)), "");
  EXPECT_EQ(stored(""), "");
  EXPECT_EQ(stored("a \t b"), "a \t b");      // inner whitespace stays
  EXPECT_EQ(stored("\xFF\x80"), "\xFF\x80");  // obs-text is allowed
}

TEST(HTTPField, ValueSetterCleansLikeTheConstructor) {
  HTTPField field(Name::accept, "x");
  field.setValue("\tv\n");
  EXPECT_EQ(field.value(), "v");
}

TEST(HTTPField, LenientCleaningReplacesOnlyNulCrAndLf) {
  const auto stored = [](std::string_view value) {
    return octetsOf(HTTPField::withLenientValue(Name::accept, value));
  };
  EXPECT_EQ(stored(" a "), " a ");
  EXPECT_EQ(stored("a\r\nb"), "a  b");
  EXPECT_EQ(stored(std::string("\x00\x01", 2)), " \x01");
}

TEST(HTTPField, ValueRuleRefusesEdgeWhitespaceAndControlOctets) {
  EXPECT_TRUE(HTTPField::isValidValue(""));
  EXPECT_TRUE(HTTPField::isValidValue("a b"));
  EXPECT_TRUE(HTTPField::isValidValue("\x80\xFF"));
  EXPECT_FALSE(HTTPField::isValidValue(" a"));
  EXPECT_FALSE(HTTPField::isValidValue("a\t"));
  EXPECT_FALSE(HTTPField::isValidValue("a\nb"));
  EXPECT_FALSE(HTTPField::isValidValue("a\x7F"));
}

TEST(HTTPField, TextViewDecodesOctetsAsUTF8) {
  const HTTPField utf8(Name::accept, "\xC3\xA9");
  EXPECT_EQ(utf8.value(), "\xC3\xA9");
  const HTTPField latin1(Name::accept, "\xFF");
  EXPECT_EQ(latin1.value(), "\xEF\xBF\xBD");  // U+FFFD
  EXPECT_EQ(octetsOf(latin1), "\xFF");
  // Each maximal ill-formed part becomes one U+FFFD.
  EXPECT_EQ(HTTPField(Name::accept, "a\xE2\x82z").value(), "a\xEF\xBF\xBDz");
}

TEST(HTTPField, DescriptionIsRawNameColonValue) {
  EXPECT_EQ(HTTPField(Name::accept, "*").description(), "Accept: *");
}

TEST(HTTPField, EqualityIgnoresNameCaseButNotStrategy) {
  HTTPField a(Name("Accept"), "x");
  HTTPField b(Name("accept"), "x");
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.hashValue(), b.hashValue());
  b.setIndexingStrategy(Strategy::disallow);
  EXPECT_NE(a, b);
  EXPECT_NE(a, HTTPField(Name("Accept"), "y"));
}

TEST(HTTPFieldCoding, WritesStrategyOnlyWhenNotAutomatic) {
  HTTPField field(Name::accept, "x");
  EXPECT_EQ(boost::json::serialize(field.toJSON()), R"({"name":"Accept","value":"x"})");
  field.setIndexingStrategy(Strategy::avoid);
  EXPECT_EQ(boost::json::serialize(field.toJSON()),
            R"({"name":"Accept","value":"x","indexingStrategy":2})");
}

TEST(HTTPFieldCoding, WritesEachOctetAsOneCharacterAndReadsItBack) {
  const HTTPField field(Name::accept, "caf\xC3\xA9");
  const auto json = field.toJSON();
  EXPECT_EQ(json.at("value").as_string(), "caf\xC3\x83\xC2\xA9");  // "cafÃ©"
  const HTTPField decoded = HTTPField::fromJSON(json);
  EXPECT_EQ(decoded, field);
  EXPECT_EQ(decoded.value(), "caf\xC3\xA9");
}

TEST(HTTPFieldCoding, DecodesStrategiesAboveDisallowAsAutomatic) {
  const auto strategy = [](int value) {
    boost::json::object json{{"name", "a"}, {"value", "b"}, {"indexingStrategy", value}};
    return HTTPField::fromJSON(json).indexingStrategy();
  };
  EXPECT_EQ(strategy(3), Strategy::disallow);
  EXPECT_EQ(strategy(7), Strategy::automatic);
  EXPECT_THROW(strategy(256), DecodingError);
}

TEST(HTTPFieldCoding, RefusesValuesBreakingTheValueRule) {
  const auto [message, path] = decodingFailure(R"({"name":"a","value":"x "})");
  EXPECT_EQ(message, "HTTP field value \"x \" contains invalid characters");
  EXPECT_EQ(path, CodingPath{"value"});
  EXPECT_EQ(decodingFailure(R"({"name":"a","value":"a\nb"})").first,
            "HTTP field value \"a\nb\" contains invalid characters");
}

TEST(HTTPFieldCoding, CharactersAboveLatin1NeverBecomeControlOctets) {
  // U+010A would be a line feed if cut to its low eight bits; it is stored as UTF-8 instead.
  const HTTPField field =
      HTTPField::fromJSON(boost::json::parse(R"({"name":"a","value":"x\u010Ay"})"));
  EXPECT_EQ(octetsOf(field), "x\xC4\x8Ay");
  EXPECT_EQ(field.value(), "x\xC4\x8Ay");
  EXPECT_EQ(HTTPField::fromJSON(field.toJSON()), field);
  // U+20AC keeps all its octets rather than becoming 0xAC.
  EXPECT_EQ(octetsOf(HTTPField::fromJSON(boost::json::parse(R"({"name":"a","value":"€"})"))),
            "\xE2\x82\xAC");
}

TEST(HTTPFieldCoding, ReportsMissingKeysAndWrongTypes) {
  try {
    HTTPField::fromJSON(boost::json::parse(R"({"name":"a"})"));
    FAIL();
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.kind(), DecodingError::Kind::keyNotFound);
    EXPECT_EQ(error.codingPath(), CodingPath{"value"});
  }
  try {
    HTTPField::fromJSON(boost::json::parse(R"({"name":1,"value":"x"})"));
    FAIL();
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.kind(), DecodingError::Kind::typeMismatch);
  }
}

}  // namespace
}  // namespace voduzazi::http_types
