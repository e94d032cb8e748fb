#include "voduzazi/helpers/keyed_coding.hpp"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <chrono>

namespace voduzazi {
namespace {

struct Inner {
  std::string name{};
  bool operator==(const Inner&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static Inner fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                        const CodingPath& path = {});
};

struct Outer {
  std::optional<Date> seenAt{};
  std::vector<Inner> items{};
  JSONObject metaData{};
  bool isFlagged = false;
  bool operator==(const Outer&) const = default;
  boost::json::value toJSON(const JSONEncoder& encoder) const;
  static Outer fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                        const CodingPath& path = {});
};

constexpr auto innerFields = std::tuple{field("name", &Inner::name)};
constexpr auto outerFields = std::tuple{
    field("seenAt", &Outer::seenAt), field("items", &Outer::items),
    defaultedField("metaData", &Outer::metaData), defaultedField("isFlagged", &Outer::isFlagged)};

boost::json::value Inner::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, innerFields);
}
Inner Inner::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                      const CodingPath& path) {
  return decodeFields(json, decoder, path, innerFields);
}
boost::json::value Outer::toJSON(const JSONEncoder& encoder) const {
  return encodeFields(*this, encoder, outerFields);
}
Outer Outer::fromJSON(const boost::json::value& json, const JSONDecoder& decoder,
                      const CodingPath& path) {
  return decodeFields(json, decoder, path, outerFields);
}

std::shared_ptr<JSONDecoder> snakeDecoder() {
  auto decoder = makeVoduzaziDecoder();
  decoder->keyDecodingStrategy = KeyDecodingStrategy::convertFromSnakeCase;
  return decoder;
}

TEST(KeyedCoding, StrategiesReachDeclaredKeysButNotFreeFormObjects) {
  auto encoder = makeVoduzaziEncoder();
  encoder->keyEncodingStrategy = KeyEncodingStrategy::convertToSnakeCase;
  Outer outer{Date(std::chrono::milliseconds(1700000000123)),
              {{"a"}},
              JSONObject{{"camelKey", 1}, {"snake_key", 2}},
              true};
  auto json = boost::json::parse(encoder->encode(outer));
  EXPECT_EQ(json, boost::json::parse(R"({"seen_at": "2023-11-14T22:13:20.123",
      "items": [{"name": "a"}], "meta_data": {"camelKey": 1, "snake_key": 2},
      "is_flagged": true})"));
  EXPECT_EQ(snakeDecoder()->decode<Outer>(encoder->encode(outer)), outer);
}

TEST(KeyedCoding, AbsentNullAndWrongTypesAreToldApart) {
  auto decoder = snakeDecoder();
  Outer defaults = decoder->decode<Outer>(R"({"items": [], "meta_data": null, "seen_at": null})");
  EXPECT_FALSE(defaults.seenAt);
  EXPECT_TRUE(defaults.metaData.empty());
  EXPECT_FALSE(defaults.isFlagged);

  const auto failure = [&](std::string_view body) {
    try {
      decoder->decode<Outer>(body);
    } catch (const DecodingError& error) {
      return std::pair(error.kind(), error.codingPath());
    }
    ADD_FAILURE() << "decoded " << body;
    return std::pair(DecodingError::Kind::dataCorrupted, CodingPath{});
  };
  EXPECT_EQ(failure("{}"), std::pair(DecodingError::Kind::keyNotFound, CodingPath{}));
  EXPECT_EQ(failure(R"({"items": null})"),
            std::pair(DecodingError::Kind::valueNotFound, CodingPath{"items"}));
  EXPECT_EQ(failure(R"({"items": [{"name": 1}]})"),
            std::pair(DecodingError::Kind::typeMismatch, CodingPath{"items", "Index 0", "name"}));
  EXPECT_EQ(failure(R"({"items": [], "is_flagged": "yes"})"),
            std::pair(DecodingError::Kind::typeMismatch, CodingPath{"isFlagged"}));
  EXPECT_EQ(failure(R"({"items": [], "seen_at": "yesterday"})"),
            std::pair(DecodingError::Kind::dataCorrupted, CodingPath{"seenAt"}));
  EXPECT_EQ(failure("[]"), std::pair(DecodingError::Kind::typeMismatch, CodingPath{}));
}

TEST(KeyedCoding, PlainCodersWriteDatesAsSecondsSinceTwoThousandOne) {
  JSONEncoder encoder;
  JSONDecoder decoder;
  const Date date = Date(std::chrono::seconds(978307200)) + std::chrono::microseconds(1500000);
  EXPECT_EQ(encoder.encodeDate(date), boost::json::value(1.5));
  EXPECT_EQ(decoder.decodeDate(boost::json::value(1.5)), date);
  EXPECT_EQ(decoder.decodeDate(boost::json::value(-978307200)), Date(std::chrono::seconds(0)));
  // Seconds that the nanosecond time point cannot hold (past 2262 or before 1677).
  for (const char* bad : {R"("1.5")", "1e300", "null", "true", "1e10", "-1.1e10", "8.3e9"}) {
    EXPECT_THROW(decoder.decodeDate(boost::json::parse(bad)), DecodingError) << bad;
  }
  EXPECT_EQ(decoder.decodeDate(boost::json::value(8.2e9)),
            Date(std::chrono::seconds(978307200 + 8'200'000'000)));
  // The earliest date it reads writes back without overflowing.
  EXPECT_EQ(encoder.encodeDate(decoder.decodeDate(boost::json::value(-1.02e10))),
            boost::json::value(-1.02e10));
}

TEST(KeyedCoding, UUIDsAndURLsAreReadStrictly) {
  EXPECT_TRUE(detail::uuidFromString("9F1C2A44-1b2c-4d5e-8f90-a1b2c3d4e5f6"));
  for (const char* bad :
       {"9f1c2a441b2c4d5e8f90a1b2c3d4e5f6", "{9f1c2a44-1b2c-4d5e-8f90-a1b2c3d4e5f6}",
        "9f1c2a44-1b2c-4d5e-8f90-a1b2c3d4e5fg", "9f1c2a44+1b2c-4d5e-8f90-a1b2c3d4e5f6"}) {
    EXPECT_FALSE(detail::uuidFromString(bad)) << bad;
  }
  EXPECT_TRUE(detail::urlFromString("https://example.org/a?b=c"));
  EXPECT_FALSE(detail::urlFromString(""));
  EXPECT_FALSE(detail::urlFromString("has space"));
}

}  // namespace
}  // namespace voduzazi
