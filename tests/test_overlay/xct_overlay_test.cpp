// The test-framework overlay outside test runs: failures, expected failures, issues.
#include <gtest/gtest.h>

#include <stdexcept>
#include <unordered_set>

#include "tests/issue_reporting/recording_reporter.hpp"
#include "voduzazi/issue_reporting/issue_context.hpp"
#include "voduzazi/issue_reporting/issue_reporters.hpp"
#include "voduzazi/test_overlay/xct_expect_failure.hpp"
#include "voduzazi/test_overlay/xct_fail.hpp"
#include "voduzazi/test_overlay/xct_test_case.hpp"

namespace voduzazi::test_overlay {
namespace {

class XCTFailTest : public ::testing::Test {
 protected:
  std::shared_ptr<testing::RecordingReporter> reporter =
      std::make_shared<testing::RecordingReporter>();
};

TEST_F(XCTFailTest, ReportsAtTheOverlaysFileIdAndTheCallersPathAndLine) {
  const SourceLocation caller{"App/x.cpp", "/src/app/x.cpp", 21, 3};
  withReporters({reporter}, [&] { XCTFail("Unexpected call", caller); });
  const auto report = reporter->reports().at(0);
  EXPECT_EQ(report.message, "Unexpected call");
  EXPECT_EQ(report.location,
            (SourceLocation{"XCTestDynamicOverlay/Deprecations.cpp", "/src/app/x.cpp", 21, 14}));
}

TEST_F(XCTFailTest, BoundContextMovesTheFailureAndIssueContextWins) {
  const SourceLocation caller{"App/x.cpp", "/src/app/x.cpp", 21, 3};
  const IssueContext context{"Clocks/TestClock", "/src/clocks/test_clock.cpp", 5, 6};
  withReporters({reporter}, [&] {
    XCTFailContext::withCurrent({"/src/app/model.cpp", 12}, [&] {
      XCTFail("moved", caller);
      withIssueContext(context, [&] { XCTFail("context", caller); });
    });
  });
  const auto reports = reporter->reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].location, (SourceLocation{"XCTestDynamicOverlay/Deprecations.cpp",
                                                 "/src/app/model.cpp", 12, 14}));
  EXPECT_EQ(reports[1].location, context.location());
  EXPECT_FALSE(XCTFailContext::current().has_value());
}

TEST(XCTExpectFailure, RunsTheBlockOnceAndPassesItsOutcome) {
  int runs = 0;
  EXPECT_EQ(XCTExpectFailure({.failureReason = "Known bug"}, [&] { return ++runs; }), 1);
  EXPECT_EQ(XCTExpectFailure({.enabled = false}, [&] { return ++runs; }), 2);
  EXPECT_THROW(XCTExpectFailure({.strict = false}, [] { throw std::runtime_error("x"); }),
               std::runtime_error);
  XCTExpectFailure({.strict = false, .issueMatcher = [](const XCTIssue&) { return true; }});
}

TEST(XCTTestCase, NoTestCaseAndNoTestRunWithoutAFramework) {
  EXPECT_FALSE(XCTCurrentTestCase().has_value());
  EXPECT_FALSE(XCTIsTesting());
}

TEST(XCTIssue, IssueTypesKeepTheirRawValues) {
  EXPECT_EQ(rawValue(XCTIssue::IssueType::thrownError), 1);
  EXPECT_EQ(rawValue(XCTIssue::IssueType::unmatchedExpectedFailure), 5);
  EXPECT_EQ(issueTypeFromRawValue(3), XCTIssue::IssueType::performanceRegression);
  EXPECT_EQ(issueTypeFromRawValue(6), std::nullopt);
  EXPECT_EQ(issueTypeFromRawValue(-1), std::nullopt);
}

TEST(XCTIssue, EqualityAndHashingCoverEveryField) {
  using Type = XCTIssue::IssueType;
  const XCTIssue plain{Type::system, "Crash", std::nullopt};
  const XCTIssue detailed{Type::system, "Crash", std::string()};
  EXPECT_NE(plain, detailed);
  EXPECT_NE(plain, (XCTIssue{Type::thrownError, "Crash", std::nullopt}));
  EXPECT_EQ(detailed, (XCTIssue{Type::system, "Crash", std::string()}));
  std::unordered_set<XCTIssue> issues{plain, detailed, plain};
  EXPECT_EQ(issues.size(), 2u);
}

}  // namespace
}  // namespace voduzazi::test_overlay
