#include "voduzazi/helpers/sdk_date.hpp"

#include <gtest/gtest.h>

#include "voduzazi/helpers/any_json.hpp"

namespace voduzazi {
namespace {

using namespace std::chrono;

Date utc(int y, unsigned mo, unsigned d, int h, int mi, int s, nanoseconds fraction = {}) {
  return time_point_cast<Date::duration>(sys_days(year(y) / month(mo) / day(d)) + hours(h) +
                                         minutes(mi) + seconds(s) + fraction);
}

TEST(SDKDate, ReadsWholeAndFractionalSecondsAsUTC) {
  EXPECT_EQ(sdkDate("2024-03-05T07:08:09"), utc(2024, 3, 5, 7, 8, 9));
  EXPECT_EQ(sdkDate("2024-03-05T07:08:09.123"), utc(2024, 3, 5, 7, 8, 9, 123ms));
  EXPECT_EQ(sdkDate("2024-03-05T07:08:09.1"), utc(2024, 3, 5, 7, 8, 9, 100ms));
  EXPECT_EQ(sdkDate("2024-03-05T07:08:09.123456789"), utc(2024, 3, 5, 7, 8, 9, 123456789ns));
}

TEST(SDKDate, AppliesZoneOffsetsAndKeepsMicroseconds) {
  const Date expected = utc(2025, 10, 21, 8, 0, 0, 123456us);
  EXPECT_EQ(sdkDate("2025-10-21T08:00:00.123456+00:00"), expected);
  EXPECT_EQ(sdkDate("2025-10-21T08:00:00.123456Z"), expected);
  EXPECT_EQ(sdkDate("2025-10-21T10:00:00.123456+02:00"), expected);
  EXPECT_EQ(sdkDate("2025-10-21T10:30:00.123456+0230"), expected);
  EXPECT_EQ(sdkDate("2025-10-21T03:00:00.123456-05:00"), expected);
}

TEST(SDKDate, RejectsOtherForms) {
  for (const char* text :
       {"", "2024-03-05", "2024-03-05T07:08", "2024-03-05 07:08:09", "2024-03-05T07:08:09.",
        "2024-03-05T07:08:09.1234567890", "2024-02-30T07:08:09", "2024-03-05T24:00:00",
        "2024-03-05T07:60:09", "2024-03-05T07:08:09+2", "2024-03-05T07:08:09+25:00",
        "2024-03-05T07:08:09Zjunk", "24-03-05T07:08:09", "2024-3-05T07:08:09"}) {
    EXPECT_FALSE(sdkDate(text)) << text;
  }
}

TEST(SDKDate, WritesMillisecondsInUTCWithoutZone) {
  EXPECT_EQ(sdkDateString(utc(2024, 3, 5, 7, 8, 9, 123999us)), "2024-03-05T07:08:09.123");
  EXPECT_EQ(sdkDateString(utc(1970, 1, 1, 0, 0, 0)), "1970-01-01T00:00:00.000");
  EXPECT_EQ(encodeSDKDate(utc(2024, 3, 5, 7, 8, 9)), boost::json::value("2024-03-05T07:08:09.000"));
}

TEST(SDKDate, DecodingReportsWhatWasWrong) {
  auto kindOf = [](const boost::json::value& json) {
    try {
      decodeSDKDate(json, {"createdAt"});
    } catch (const DecodingError& error) {
      EXPECT_EQ(error.codingPath(), CodingPath{"createdAt"});
      return std::make_pair(error.kind(), std::string(error.what()));
    }
    ADD_FAILURE();
    return std::make_pair(DecodingError::Kind::dataCorrupted, std::string());
  };
  EXPECT_EQ(kindOf("2024-03-05"), std::make_pair(DecodingError::Kind::dataCorrupted,
                                                 std::string("Invalid date format: 2024-03-05")));
  EXPECT_EQ(kindOf("").second, "Invalid date format: ");
  EXPECT_EQ(kindOf(5).first, DecodingError::Kind::typeMismatch);
  EXPECT_EQ(kindOf(nullptr).first, DecodingError::Kind::valueNotFound);
}

TEST(SDKDate, RefusesDatesTheTimePointCannotHold) {
  // Nanoseconds since 1970 in 64 bits reach from 1677-09-21 to 2262-04-11.
  for (const char* text : {"2300-01-01T00:00:00", "4000-03-29T00:00:00", "9999-12-31T00:00:00",
                           "0001-01-01T00:00:00", "1677-09-21T00:00:00",
                           "2262-04-11T23:59:59-01:00"}) {
    EXPECT_FALSE(sdkDate(text)) << text;
    try {
      decodeSDKDate(boost::json::string(text));
      ADD_FAILURE() << text;
    } catch (const DecodingError& error) {
      EXPECT_EQ(error.kind(), DecodingError::Kind::dataCorrupted);
      EXPECT_EQ(std::string(error.what()), "Date out of range: " + std::string(text));
    }
  }
  EXPECT_EQ(sdkDate("2262-04-10T23:59:59.999999999"), utc(2262, 4, 10, 23, 59, 59, 999999999ns));
  EXPECT_EQ(sdkDate("1677-09-22T00:00:00Z"), utc(1677, 9, 22, 0, 0, 0));
}

TEST(SDKDate, RoundTripsToTheMillisecond) {
  const Date date = utc(2030, 12, 31, 23, 59, 59, 987ms);
  EXPECT_EQ(decodeSDKDate(encodeSDKDate(date)), date);
}

}  // namespace
}  // namespace voduzazi
