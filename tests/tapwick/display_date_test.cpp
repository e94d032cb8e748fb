#include "tapwick/display_date.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace tapwick {
namespace {

// Runs the tests in UTC, so that the local time shown is the instant's own.
class DisplayDateTest : public ::testing::Test {
 protected:
  DisplayDateTest() {
    const char* zone = std::getenv("TZ");
    if (zone) saved_ = zone;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  ~DisplayDateTest() override {
    if (saved_) {
      setenv("TZ", saved_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> saved_;
};

TEST_F(DisplayDateTest, ShowsDayMonthYearHourAndMinute) {
  EXPECT_EQ(formatDisplayDate("2025-10-21T12:34:56.123456Z"), "21 Oct 2025, 12:34");
  EXPECT_EQ(formatDisplayDate("2025-10-21T12:34:56.123Z"), "21 Oct 2025, 12:34");
}

TEST_F(DisplayDateTest, AddsTheMissingZoneAndCutsLongFractions) {
  EXPECT_EQ(formatDisplayDate("2025-10-21T12:34:56.1234"), "21 Oct 2025, 12:34");
  EXPECT_EQ(formatDisplayDate("2025-10-21T23:59:59.999999999"), "21 Oct 2025, 23:59");
}

TEST_F(DisplayDateTest, AppliesOffsetsAfterTrimming) {
  EXPECT_EQ(formatDisplayDate(" 2025-10-21T12:34:56.5+02:00\n"), "21 Oct 2025, 10:34");
  EXPECT_EQ(formatDisplayDate("2025-10-21T08:00:00.123456+00:00"), "21 Oct 2025, 08:00");
  EXPECT_EQ(formatDisplayDate("2025-10-21T00:30:00.5-0130"), "21 Oct 2025, 02:00");
}

TEST_F(DisplayDateTest, ReturnsTextThatIsNoTimestampWithAFractionUnchanged) {
  EXPECT_EQ(formatDisplayDate("2025-10-21T12:34:56Z"), "2025-10-21T12:34:56Z");
  EXPECT_EQ(formatDisplayDate(" yesterday "), " yesterday ");
  EXPECT_EQ(formatDisplayDate(""), "");
  EXPECT_EQ(formatDisplayDate("2025-13-45T99:99:99.1Z"), "2025-13-45T99:99:99.1Z");
}

}  // namespace
}  // namespace tapwick
