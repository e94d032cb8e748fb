#include <gtest/gtest.h>

#include <boost/json/value_from.hpp>
#include <boost/json/value_to.hpp>
#include <cmath>
#include <limits>
#include <string>

#include "voduzazi/helpers/any_json.hpp"
#include "voduzazi/helpers/detail/key_case.hpp"
#include "voduzazi/helpers/sdk_date.hpp"

namespace voduzazi {
namespace {

struct Profile {
  std::string userName;
  Date createdAt;

  boost::json::value toJSON() const {
    return {{"userName", userName}, {"createdAt", encodeSDKDate(createdAt)}};
  }
  static Profile fromJSON(const boost::json::value& json) {
    const auto& object = json.as_object();
    return {std::string(object.at("userName").as_string()),
            decodeSDKDate(object.at("createdAt"), {"createdAt"})};
  }
};

AnyJSON parse(std::string_view text) { return AnyJSON::decoder()->decode<AnyJSON>(text); }

TEST(AnyJSON, DecodesEachShapeIntoItsOwnCase) {
  EXPECT_EQ(parse("5"), AnyJSON(5));
  EXPECT_EQ(parse("5.5"), AnyJSON(5.5));
  EXPECT_EQ(parse("\"5\""), AnyJSON("5"));
  EXPECT_EQ(parse("true"), AnyJSON(true));
  EXPECT_TRUE(parse("null").isNil());
  EXPECT_EQ(parse("[]"), AnyJSON(JSONArray{}));
  EXPECT_EQ(parse("{}"), AnyJSON(JSONObject{}));
  // Past the signed range a number can only be a double.
  EXPECT_EQ(parse("18446744073709551615").kind(), AnyJSON::Kind::double_);
}

TEST(AnyJSON, KeepsIntegersAndDoublesApart) {
  EXPECT_NE(AnyJSON(1), AnyJSON(1.0));
  EXPECT_FALSE(AnyJSON(1.0).intValue());
  EXPECT_FALSE(AnyJSON(1).doubleValue());
  EXPECT_EQ(parse("2.0").kind(), AnyJSON::Kind::double_);
  EXPECT_EQ(AnyJSON::encoder()->encode(AnyJSON(2.0)), "2.0");
  EXPECT_EQ(AnyJSON::encoder()->encode(AnyJSON(2)), "2");
  // An unsigned value past the signed range must not wrap around to a negative integer.
  EXPECT_EQ(AnyJSON(std::uint64_t{1} << 63), AnyJSON(9223372036854775808.0));
  EXPECT_EQ(AnyJSON(std::uint64_t{7}), AnyJSON(7));
}

TEST(AnyJSON, ComparesDoublesAsNumbersAndHashesConsistently) {
  EXPECT_EQ(AnyJSON(0.0), AnyJSON(-0.0));
  EXPECT_EQ(std::hash<AnyJSON>()(AnyJSON(0.0)), std::hash<AnyJSON>()(AnyJSON(-0.0)));
  const AnyJSON nan(std::numeric_limits<double>::quiet_NaN());
  EXPECT_NE(nan, nan);
  const AnyJSON a = JSONObject{{"x", 1}, {"y", JSONArray{"a", nullptr}}};
  const AnyJSON b = JSONObject{{"y", JSONArray{"a", nullptr}}, {"x", 1}};
  EXPECT_EQ(a, b);
  EXPECT_EQ(a.hashValue(), b.hashValue());
  EXPECT_NE(a, AnyJSON(JSONObject{{"x", 1}}));
}

TEST(AnyJSON, RoundTripsThroughTextWithSortedKeysAndUnescapedSlashes) {
  const AnyJSON value = JSONObject{{"b", JSONArray{1, 2.5, "x/y", true, nullptr}},
                                   {"a", JSONObject{{"nested", "quote\" and \\ and \n"}}}};
  const Data text = AnyJSON::encoder()->encode(value);
  EXPECT_EQ(text, R"({"a":{"nested":"quote\" and \\ and \n"},"b":[1,2.5,"x/y",true,null]})");
  EXPECT_EQ(parse(text), value);
}

TEST(AnyJSON, RefusesToEncodeNonFiniteDoubles) {
  EXPECT_THROW(AnyJSON::encoder()->encode(AnyJSON(std::numeric_limits<double>::infinity())),
               EncodingError);
  EXPECT_THROW(
      AnyJSON::encoder()->encode(AnyJSON(JSONArray{std::numeric_limits<double>::quiet_NaN()})),
      EncodingError);
}

TEST(AnyJSON, ReadsDoublesCorrectlyRoundedSoRewritingIsStable) {
  const Data once = AnyJSON::encoder()->encode(parse("[76931348623157e154]"));
  EXPECT_EQ(once, "[7.6931348623157e+167]");
  EXPECT_EQ(AnyJSON::encoder()->encode(parse(once)), once);
  EXPECT_EQ(parse("0.1").doubleValue(), 0.1);
  EXPECT_EQ(parse("[5e-324]"), AnyJSON(JSONArray{std::numeric_limits<double>::denorm_min()}));
  // Zero with a huge exponent is zero, not NaN; past the double range stays infinite.
  EXPECT_EQ(parse("0e400").doubleValue(), 0.0);
  EXPECT_EQ(parse("-1e999").doubleValue(), -std::numeric_limits<double>::infinity());
}

TEST(AnyJSON, RejectsTextThatIsNotJSON) {
  for (const char* text : {"", "{", "[1,]", "{'a':1}", "nul", "\"\xff\""}) {
    try {
      parse(text);
      ADD_FAILURE() << text;
    } catch (const DecodingError& error) {
      EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
    }
  }
}

TEST(AnyJSON, DescribesValuesForLogs) {
  EXPECT_EQ(AnyJSON("plain").description(), "plain");
  EXPECT_EQ(AnyJSON(2.0).description(), "2.0");
  EXPECT_EQ(AnyJSON(0.1).description(), "0.1");
  EXPECT_EQ(AnyJSON(nullptr).description(), "<null>");
  EXPECT_EQ(AnyJSON(JSONObject{}).description(), "[:]");
  EXPECT_EQ(AnyJSON(JSONArray{"a", 1, nullptr}).description(), R"(["a", 1, <null>])");
  EXPECT_EQ(AnyJSON(JSONObject{{"k", "v"}, {"n", 3}}).description(), R"(["k": "v", "n": 3])");
}

TEST(AnyJSON, BuildsFromRecordsAndDecodesIntoThem) {
  const Profile profile{"ada", *sdkDate("2024-03-05T07:08:09.123")};
  const AnyJSON json = AnyJSON::from(profile);
  EXPECT_EQ(json,
            AnyJSON(JSONObject{{"userName", "ada"}, {"createdAt", "2024-03-05T07:08:09.123"}}));
  const Profile back = json.decode<Profile>();
  EXPECT_EQ(back.userName, "ada");
  EXPECT_EQ(back.createdAt, profile.createdAt);
  EXPECT_EQ(AnyJSON::from(json), json);
  EXPECT_EQ(jsonObject(profile).size(), 2u);
}

TEST(AnyJSON, JSONObjectOfANonObjectThrowsTypeMismatch) {
  try {
    jsonObject(std::string("text"));
    FAIL();
  } catch (const DecodingError& error) {
    EXPECT_EQ(error.kind(), DecodingError::Kind::typeMismatch);
    EXPECT_STREQ(error.what(), "Expected to decode value to Dictionary<String, AnyJSON>.");
  }
}

TEST(AnyJSON, ConvertsThroughBoostJSONContainers) {
  const JSONObject object{{"a", JSONArray{1, "b"}}};
  const boost::json::value json = boost::json::value_from(object);
  EXPECT_EQ(boost::json::value_to<JSONObject>(json), object);
}

TEST(JSONCoders, FactoriesGiveDistinctObjectsAndTheSharedOnesStay) {
  EXPECT_NE(makeVoduzaziEncoder(), makeVoduzaziEncoder());
  EXPECT_NE(makeVoduzaziDecoder(), makeVoduzaziDecoder());
  EXPECT_EQ(AnyJSON::encoder(), AnyJSON::encoder());
  EXPECT_EQ(AnyJSON::decoder(), AnyJSON::decoder());
}

TEST(JSONCoders, SnakeCaseStrategiesConvertKeysAtEveryLevel) {
  JSONEncoder encoder;
  encoder.keyEncodingStrategy = KeyEncodingStrategy::convertToSnakeCase;
  encoder.outputFormatting.sortedKeys = true;
  const AnyJSON value =
      JSONObject{{"refreshToken", "t"}, {"userMetadata", JSONObject{{"myURLKey", 1}}}};
  EXPECT_EQ(encoder.encode(value), R"({"refresh_token":"t","user_metadata":{"my_url_key":1}})");

  JSONDecoder decoder;
  decoder.keyDecodingStrategy = KeyDecodingStrategy::convertFromSnakeCase;
  EXPECT_EQ(decoder.decode<AnyJSON>(R"({"access_token":"a","_private_key_":1})"),
            AnyJSON(JSONObject{{"accessToken", "a"}, {"_privateKey_", 1}}));
}

TEST(JSONCoders, SnakeCaseKeysOfNonASCIICharactersStayValidUTF8) {
  JSONEncoder encoder;
  encoder.keyEncodingStrategy = KeyEncodingStrategy::convertToSnakeCase;
  const Data text = encoder.encode(parse("{\"aB\xC3\xA9" "c\":1}"));
  EXPECT_EQ(text, "{\"a_b\xC3\xA9" "c\":1}");
  EXPECT_EQ(parse(text), AnyJSON(JSONObject{{"a_b\xC3\xA9" "c", 1}}));
}

TEST(JSONCoders, PrettyPrintingIndentsAndKeepsInsertionOrderUnlessSorted) {
  JSONEncoder encoder;
  encoder.outputFormatting.prettyPrinted = true;
  const boost::json::value json = {{"z", 1}, {"a", boost::json::array{true}}};
  EXPECT_EQ(encoder.write(json), "{\n  \"z\" : 1,\n  \"a\" : [\n    true\n  ]\n}");
}

TEST(KeyCase, ConvertsBetweenCamelAndSnakeCase) {
  EXPECT_EQ(detail::toSnakeCase("oneTwoThree"), "one_two_three");
  EXPECT_EQ(detail::toSnakeCase("myURLProperty"), "my_url_property");
  EXPECT_EQ(detail::toSnakeCase("userID"), "user_id");
  EXPECT_EQ(detail::toSnakeCase("already_snake"), "already_snake");
  // Only ASCII letters have a case; other characters stay whole and continue their word.
  EXPECT_EQ(detail::toSnakeCase("aB\xC3\xA9" "c"), "a_b\xC3\xA9" "c");
  EXPECT_EQ(detail::toSnakeCase("myURL\xC3\xA9t\xC3\xA9"), "my_ur_l\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(detail::toSnakeCase("\xE6\x97\xA5Id"), "\xE6\x97\xA5_id");
  EXPECT_EQ(detail::fromSnakeCase("one_two_three"), "oneTwoThree");
  EXPECT_EQ(detail::fromSnakeCase("user_ID"), "userId");
  EXPECT_EQ(detail::fromSnakeCase("camelCase"), "camelCase");
  EXPECT_EQ(detail::fromSnakeCase("__"), "__");
}

}  // namespace
}  // namespace voduzazi
