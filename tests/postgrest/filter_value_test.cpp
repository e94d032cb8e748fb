// The texts of filter values.
#include "voduzazi/postgrest/filter_value.hpp"

#include <gtest/gtest.h>

#include <boost/uuid/string_generator.hpp>
#include <cmath>
#include <limits>

namespace app {

// An app type made a filter value through a member.
struct Mood {
  std::string name;
  std::string rawValue() const { return "mood:" + name; }
};

// One made a filter value through the traits.
enum class Level { low, high };

}  // namespace app

template <>
struct voduzazi::PostgrestFilterValueTraits<app::Level> {
  static std::string rawValue(app::Level level) { return level == app::Level::low ? "L" : "H"; }
};

namespace voduzazi {
namespace {

std::string text(const PostgrestFilterValue& value) { return value.rawValue(); }

TEST(PostgrestFilterValue, WritesScalarsAsTheServerReadsThem) {
  EXPECT_EQ(text("plain, (text)"), "plain, (text)");
  EXPECT_EQ(text(std::string("s")), "s");
  EXPECT_EQ(text(std::string_view("v")), "v");
  EXPECT_EQ(text(0), "0");
  EXPECT_EQ(text(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
  EXPECT_EQ(text(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615");
  EXPECT_EQ(text(true), "true");
  EXPECT_EQ(text(false), "false");
  EXPECT_EQ(text(1.0), "1.0");
  EXPECT_EQ(text(-2.5), "-2.5");
  EXPECT_EQ(text(0.1), "0.1");
  EXPECT_EQ(text(1.0f), "1.0");
  EXPECT_EQ(std::stod(text(1e300)), 1e300);
  EXPECT_EQ(text(nullptr), "NULL");
  EXPECT_EQ(text(std::nullopt), "NULL");
}

TEST(PostgrestFilterValue, WritesUUIDsInUpperCaseWhateverTheirInput) {
  boost::uuids::string_generator parse;
  EXPECT_EQ(text(parse("a1b2c3d4-e5f6-4000-8000-0000000000ab")),
            "A1B2C3D4-E5F6-4000-8000-0000000000AB");
  EXPECT_EQ(text(parse("A1B2C3D4-E5F6-4000-8000-0000000000AB")),
            "A1B2C3D4-E5F6-4000-8000-0000000000AB");
}

TEST(PostgrestFilterValue, WritesDatesInUTCWithMilliseconds) {
  using namespace std::chrono;
  const sys_days day = sys_days(year(2024) / 1 / 2);
  EXPECT_EQ(text(day + hours(3) + minutes(4) + seconds(5) + milliseconds(678)),
            "2024-01-02T03:04:05.678Z");
  EXPECT_EQ(text(system_clock::time_point(day)), "2024-01-02T00:00:00.000Z");
  EXPECT_EQ(text(day + microseconds(1999)), "2024-01-02T00:00:00.001Z");
}

TEST(PostgrestFilterValue, WritesArraysAndOptionalsByTheirElements) {
  EXPECT_EQ(text(std::vector<int>{1, 2, 3}), "{1,2,3}");
  EXPECT_EQ(text(std::vector<int>{}), "{}");
  EXPECT_EQ(text(std::vector<std::vector<int>>{{1, 2}, {3}}), "{{1,2},{3}}");
  EXPECT_EQ(text(std::vector<std::string>{"a,b", "}"}), "{a,b,}}");
  EXPECT_EQ(text(std::optional<int>(4)), "4");
  EXPECT_EQ(text(std::optional<std::optional<int>>(std::optional<int>())), "NULL");
  EXPECT_EQ(text(std::vector<std::optional<bool>>{true, std::nullopt}), "{true,NULL}");
}

TEST(PostgrestFilterValue, WritesJSONByCase) {
  EXPECT_EQ(text(AnyJSON()), "NULL");
  EXPECT_EQ(text(AnyJSON(true)), "true");
  EXPECT_EQ(text(AnyJSON(7)), "7");
  EXPECT_EQ(text(AnyJSON(2.0)), "2.0");
  EXPECT_EQ(text(AnyJSON("x")), "x");
  EXPECT_EQ(text(AnyJSON(JSONArray{1, JSONArray{"a", nullptr}})), "{1,{a,NULL}}");
  const JSONObject object{{"b", 1}, {"a", "x/y"}, {"c", JSONObject{{"z", 1.5}, {"y", nullptr}}}};
  EXPECT_EQ(text(object), R"({"a":"x/y","b":1,"c":{"y":null,"z":1.5}})");
  EXPECT_EQ(text(AnyJSON(object)), text(object));
  // JSON has no text for NaN: a defined text instead of a failure.
  EXPECT_EQ(text(JSONObject{{"n", std::nan("")}}), "null");
}

TEST(PostgrestFilterValue, AcceptsTheAppsOwnTypes) {
  EXPECT_EQ(text(app::Mood{"calm"}), "mood:calm");
  EXPECT_EQ(text(app::Level::high), "H");
  EXPECT_EQ(text(std::vector<app::Level>{app::Level::low, app::Level::high}), "{L,H}");
  static_assert(!PostgrestFilterValueType<std::vector<std::pair<int, int>>>);
}

TEST(PostgrestFilterValue, QueryValueIsTheRawValue) {
  for (const PostgrestFilterValue& value :
       {PostgrestFilterValue(1), PostgrestFilterValue("a"), PostgrestFilterValue(2.5)}) {
    EXPECT_EQ(value.queryValue(), value.rawValue());
  }
}

}  // namespace
}  // namespace voduzazi
