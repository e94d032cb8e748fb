// Placeholder values for result types, and the generating placeholder functions.
#include "voduzazi/test_overlay/placeholder_generation.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "tests/issue_reporting/recording_reporter.hpp"
#include "voduzazi/issue_reporting/issue_reporters.hpp"
#include "voduzazi/test_overlay/unimplemented.hpp"
#include "voduzazi/test_overlay/xct_unimplemented.hpp"

namespace voduzazi::test_overlay {

enum class Mode { automatic, manual };
enum class Tier { free, pro };

// A raw value type of its own whose default makes a case.
template <>
struct RawRepresentable<Mode> {
  using RawValue = std::string;
  static std::optional<Mode> fromRawValue(const std::string& raw) {
    if (raw.empty()) return Mode::manual;
    if (raw == "auto") return Mode::automatic;
    return std::nullopt;
  }
};

// No case has the default raw value; the first case is used.
template <>
struct RawRepresentable<Tier> {
  using RawValue = std::string;
  static std::optional<Tier> fromRawValue(const std::string& raw) {
    return raw == "pro" ? std::optional(Tier::pro) : std::nullopt;
  }
};
template <>
struct CaseIterable<Tier> {
  static std::vector<Tier> allCases() { return {Tier::pro, Tier::free}; }
};

namespace {

struct Name {
  Name(const char* text) : text(text) {}
  std::string text;
};

struct Widget {
  explicit Widget(int) {}
};

TEST(PlaceholderGeneration, GivesTheTablesValues) {
  EXPECT_EQ(generatePlaceholder<int>(), 0);
  EXPECT_EQ(generatePlaceholder<std::uint8_t>(), 0);
  EXPECT_EQ(generatePlaceholder<double>(), 0.0);
  EXPECT_EQ(generatePlaceholder<bool>(), false);
  EXPECT_EQ(generatePlaceholder<char>(), ' ');
  EXPECT_EQ(generatePlaceholder<std::string>(), "");
  EXPECT_EQ(generatePlaceholder<std::string_view>(), "");
  EXPECT_TRUE(generatePlaceholder<std::vector<Widget>>().empty());
  EXPECT_TRUE((generatePlaceholder<std::map<std::string, Widget>>().empty()));
  EXPECT_EQ(generatePlaceholder<std::optional<Widget>>().has_value(), false);
  EXPECT_EQ(generatePlaceholder<std::tuple<>>(), std::tuple<>());
  generatePlaceholder<void>();
}

TEST(PlaceholderGeneration, GivesZeroDurationsAndLiteralValues) {
  EXPECT_EQ(generatePlaceholder<std::chrono::milliseconds>(), std::chrono::milliseconds::zero());
  EXPECT_EQ(generatePlaceholder<Name>().text, " ");
  EXPECT_TRUE(generatePlaceholder<std::deque<int>>().empty());
}

TEST(PlaceholderGeneration, GivesFreshDatesIdsAndTheRootUrl) {
  const auto before = std::chrono::system_clock::now();
  EXPECT_GE(generatePlaceholder<std::chrono::system_clock::time_point>(), before);
  EXPECT_NE(generatePlaceholder<boost::uuids::uuid>(), generatePlaceholder<boost::uuids::uuid>());
  EXPECT_EQ(generatePlaceholder<boost::urls::url>().buffer(), "/");
}

TEST(PlaceholderGeneration, GivesFinishedStreams) {
  const auto stream = generatePlaceholder<AsyncStream<int>>();
  EXPECT_EQ(stream.begin(), stream.end());
  const auto throwing = generatePlaceholder<AsyncThrowingStream<int>>();
  EXPECT_THROW(throwing.begin(), CancellationError);
}

TEST(PlaceholderGeneration, UsesTheDefaultRawValueThenTheFirstCase) {
  EXPECT_EQ(generatePlaceholder<Mode>(), Mode::manual);
  EXPECT_EQ(generatePlaceholder<Tier>(), Tier::pro);
}

TEST(PlaceholderGeneration, FailsForTypesWithoutAWay) {
  EXPECT_THROW(generatePlaceholder<Widget>(), PlaceholderGenerationFailure);
  EXPECT_FALSE(defaultValue<Widget>().has_value());
  EXPECT_FALSE(defaultValue<std::optional<int>>().has_value());
  EXPECT_STREQ(PlaceholderGenerationFailure().what(), "PlaceholderGenerationFailure()");
}

class GeneratingUnimplemented : public ::testing::Test {
 protected:
  std::shared_ptr<testing::RecordingReporter> reporter =
      std::make_shared<testing::RecordingReporter>();
};

TEST_F(GeneratingUnimplemented, ReportsAtColumnZeroThenReturnsAPlaceholder) {
  const FunctionLocation at{"load()", {"App/model.cpp", "/src/app/model.cpp", 40, 17}};
  const auto count = test_overlay::unimplemented<int(std::string)>("count", at);
  const auto older = XCTUnimplemented<std::optional<int>()>("older", at);
  withReporters({reporter}, [&] {
    EXPECT_EQ(count("x"), 0);
    EXPECT_EQ(older(), std::nullopt);
  });
  const auto reports = reporter->reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].message,
            "Unimplemented: count \u2026\n\n  Defined in 'load()' at:\n    App/model.cpp:40\n\n"
            "  Invoked with:\n    \"x\"");
  EXPECT_EQ(reports[0].location, (SourceLocation{"App/model.cpp", "/src/app/model.cpp", 40, 0}));
}

TEST_F(GeneratingUnimplemented, OlderNamesForwardToTheirForms) {
  const auto withPlaceholder = XCTUnimplemented<int()>("a", 9);
  const auto throwingOne = XCTUnimplementedThrowing<int()>("b");
  withReporters({reporter}, [&] {
    EXPECT_EQ(withPlaceholder(), 9);
    EXPECT_THROW(throwingOne(), UnimplementedFailure);
  });
  EXPECT_EQ(reporter->reports().size(), 2u);
}

TEST(GeneratingUnimplementedDeathTest, StopsWhenNoPlaceholderCanBeMade) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const FunctionLocation at{"make()", {"App/model.cpp", "/src/app/model.cpp", 41, 3}};
  const auto make = test_overlay::unimplemented<Widget()>("Factory.make", at);
  const auto anonymous = test_overlay::unimplemented<Widget()>({}, at);
  EXPECT_DEATH(make(),
               "Unimplemented: Factory.make.*/src/app/model.cpp:41: Fatal error: "
               "unimplemented\\(\"Factory.make\"\\)\n\nTo suppress this crash, provide an "
               "explicit \"placeholder\".");
  EXPECT_DEATH(anonymous(), "Fatal error: unimplemented\\(\\)\n\nTo suppress");
  EXPECT_DEATH(test_overlay::unimplemented<Widget>("never reported", at),
               "^/src/app/model.cpp:41: Fatal error\n$");
}

}  // namespace
}  // namespace voduzazi::test_overlay
