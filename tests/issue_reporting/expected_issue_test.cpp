// Expected-issue scopes outside test runs.
#include "voduzazi/issue_reporting/expected_issue.hpp"

#include <gtest/gtest.h>

#include "tests/issue_reporting/recording_reporter.hpp"
#include "voduzazi/concurrency/cancellation_error.hpp"
#include "voduzazi/concurrency/task.hpp"
#include "voduzazi/issue_reporting/failure_observer.hpp"
#include "voduzazi/issue_reporting/issue_context.hpp"
#include "voduzazi/issue_reporting/issue_reporters.hpp"
#include "voduzazi/issue_reporting/report_issue.hpp"

namespace voduzazi {
namespace {

using testing::RecordingReporter;
using testing::Report;

const SourceLocation kScope{"App/model.cpp", "/src/app/model.cpp", 30, 9};

class ExpectedIssue : public ::testing::Test {
 protected:
  template <class Body>
  void inScope(Body&& body) {
    withReporters({reporter}, std::forward<Body>(body));
  }
  std::shared_ptr<RecordingReporter> reporter = std::make_shared<RecordingReporter>();
};

TEST_F(ExpectedIssue, ReportedIssueIsToldAsExpectedAndNothingElse) {
  inScope([] { withExpectedIssue([] { reportIssue("known"); }, kScope); });
  const auto reports = reporter->reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].kind, Report::Kind::expectedIssue);
  EXPECT_EQ(reports[0].message, "known");
  EXPECT_EQ(FailureObserver::current(), nullptr);
}

TEST_F(ExpectedIssue, MissingIssueIsReportedWithTheMessage) {
  inScope([] {
    withExpectedIssue(
        {.message = "Flaky upstream"}, [] {}, kScope);
    withExpectedIssue([] {}, kScope);
  });
  const auto reports = reporter->reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].kind, Report::Kind::issue);
  EXPECT_EQ(reports[0].message, "Known issue was not recorded: Flaky upstream");
  EXPECT_EQ(reports[0].location, kScope);
  EXPECT_EQ(reports[1].message, "Known issue was not recorded");
}

TEST_F(ExpectedIssue, IntermittentIssueMayStayAway) {
  inScope([] {
    withExpectedIssue(
        {.isIntermittent = true}, [] {}, kScope);
  });
  EXPECT_TRUE(reporter->reports().empty());
}

TEST_F(ExpectedIssue, ThrownErrorIsTheExpectedIssueAndIsNotRethrown) {
  inScope([] {
    withExpectedIssue(
        {.message = "cancelled"}, [] { throw CancellationError(); }, kScope);
  });
  const auto reports = reporter->reports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].kind, Report::Kind::expectedError);
  EXPECT_EQ(reports[0].error, "CancellationError()");
  EXPECT_EQ(reports[0].message, "cancelled");
  EXPECT_EQ(reports[0].location, kScope);
}

TEST_F(ExpectedIssue, InnerScopeCountsOnlyItsOwnIssues) {
  inScope([] {
    withExpectedIssue(
        {.message = "outer"}, [] { withExpectedIssue([] { reportIssue("inner"); }, kScope); },
        kScope);
  });
  EXPECT_EQ(reporter->messages(),
            (std::vector<std::string>{"inner", "Known issue was not recorded: outer"}));
}

TEST_F(ExpectedIssue, IssuesOfChildTasksCount) {
  inScope([] {
    withExpectedIssue([] { Task<void>([] { reportIssue("from a child"); }).value(); }, kScope);
  });
  EXPECT_EQ(reporter->messages(), std::vector<std::string>{"from a child"});
}

TEST_F(ExpectedIssue, BoundIssueContextLocatesTheScopesOwnReports) {
  const IssueContext context{"Clocks/TestClock", "/src/clocks/test_clock.cpp", 3, 4};
  inScope([&] {
    withIssueContext(context, [] {
      withExpectedIssue([] {}, kScope);
      withExpectedIssue([] { throw CancellationError(); }, kScope);
    });
  });
  for (const auto& report : reporter->reports()) EXPECT_EQ(report.location, context.location());
}

}  // namespace
}  // namespace voduzazi
